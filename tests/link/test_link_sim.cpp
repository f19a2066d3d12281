#include <gtest/gtest.h>

#include <thread>

#include "files/instrument_entry.h"
#include "link/file_reading.h"
#include "link/link_controller.h"
#include "panel/screen_message_sender.h"
#include "sim/simulated_bus.h"
#include "tests/link/fake_bus.h"

namespace kd735 {
namespace {

sim::SimulatedBus::Options Immediate() {
  sim::SimulatedBus::Options o;
  o.timeoutCapMs = 0;  // a transfer that cannot complete fails at once
  return o;
}

class LinkSimTest : public ::testing::Test {
 protected:
  void SetUp() override { test::App(); }
  sim::SimulatedBus bus{Immediate()};
};

TEST_F(LinkSimTest, ReadsTheInstrumentsFilesIntoNumberedEntries) {
  const QString path = bus.AttachInstrument();
  LinkController link(bus, nullptr);
  link.Start();
  std::vector<InstrumentFileEntry> entries;
  InstrumentFileReader::Hooks hooks;
  hooks.showMessage = [](MessageKind, const QString& text) { ADD_FAILURE() << text.toStdString(); };
  hooks.appendFile = [&](const InstrumentFile& f) {
    entries.push_back(MakeInstrumentFileEntry(f, QLocale::c()));
  };
  InstrumentFileReader reader(link, hooks);
  reader.Read(FileSide::kMeasure);

  std::vector<sim::FileRecord> want;
  bus.WithInstrument(path, [&](sim::Instrument& i) { want = i.Files(sim::kMeasureKind); });
  ASSERT_EQ(entries.size(), want.size());
  for (std::size_t k = 0; k < want.size(); ++k) {
    EXPECT_EQ(entries[k].text, QStringLiteral("%1  TEST%2 N%1")
                                   .arg(k + 1, 3, 10, QChar('0'))
                                   .arg(k + 1, 4, 10, QChar('0')));
    EXPECT_EQ(entries[k].content->record, want[k]);
    EXPECT_FALSE(entries[k].incomplete);
  }
}

TEST_F(LinkSimTest, MissingPacketsAreReportedOnTheEntry) {
  const QString path = bus.AttachInstrument();
  bus.WithInstrument(path, [](sim::Instrument& i) { i.Faults().missingPackets = {3}; });
  LinkController link(bus, nullptr);
  link.Start();
  std::vector<InstrumentFileEntry> entries;
  InstrumentFileReader::Hooks hooks;
  hooks.appendFile = [&](const InstrumentFile& f) {
    entries.push_back(MakeInstrumentFileEntry(f));
  };
  InstrumentFileReader reader(link, hooks);
  reader.Read(FileSide::kBscan);
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& e : entries) {
    EXPECT_TRUE(e.incomplete);
    const auto part = std::span(e.content->record).subspan(3 * 32, 32);
    EXPECT_TRUE(std::all_of(part.begin(), part.end(), [](auto b) { return b == 0; }));
  }
}

TEST_F(LinkSimTest, ScreenMessageReachesTheInstrumentAndIsLogged) {
  const QString path = bus.AttachInstrument();
  LinkController link(bus, nullptr);
  link.Start();
  EXPECT_TRUE(SendScreenMessage(link, 4, QStringLiteral("Привет !!!")));
  EXPECT_TRUE(link.Log().last().endsWith(QStringLiteral("  Сообщение = Привет !!!  OK 64")));
  bus.WithInstrument(path, [](sim::Instrument& i) {
    EXPECT_TRUE(i.MessageShown());
    EXPECT_EQ(i.MessageText(), "\xCF\xF0\xE8\xE2\xE5\xF2 !!!");
  });

  bus.Detach(path);
  EXPECT_FALSE(SendScreenMessage(link, 4, QStringLiteral("x")));
  EXPECT_TRUE(link.Log().last().endsWith(QStringLiteral("  Сообщение = x  Bad")));
}

// Plugs and unplugs the instrument 100 times from another thread, as a hotplug thread would,
// while the link streams and reads files on this one: no deadlock, no reader left running.
TEST_F(LinkSimTest, HundredPlugCyclesWhileStreamingAndReading) {
  QString path = bus.AttachInstrument();
  int frames = 0;
  LinkController link(bus, [&](const Packet&) { ++frames; });
  link.Start();
  int filesRead = 0;
  InstrumentFileReader::Hooks hooks;
  hooks.appendFile = [&](const InstrumentFile&) { ++filesRead; };
  InstrumentFileReader reader(link, hooks);

  std::atomic<bool> done{false};
  std::thread plugger([&] {
    QString p = path;
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
      bus.Detach(p);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      p = bus.AttachInstrument(1, QStringLiteral("00123"));
    }
    done = true;
  });
  int readings = 0;
  while (!done) {
    if (++readings % 2)
      reader.Read(FileSide::kMeasure);  // device changes are served from inside the reading
    else
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  plugger.join();
  // The queued notifications settle on a connected instrument with a running reader.
  ASSERT_TRUE(test::PumpUntil([&] {
    return link.Instruments().size() == 1 && link.CurrentReader() &&
           !link.CurrentReader()->HasEnded() && !link.CurrentReader()->IsSuspended();
  }));
  const int before = frames;
  ASSERT_TRUE(test::PumpUntil([&] { return frames > before + 10; }));
  EXPECT_FALSE(reader.Busy());
  EXPECT_GT(filesRead, 0);

  link.Shutdown();
  EXPECT_EQ(link.CurrentReader(), nullptr);
}

}  // namespace
}  // namespace kd735
