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

// A transfer shorter than 64 bytes is no packet: a short listing is no listing, a file of short
// replies is incomplete (not a whole file of zeros), and short stream packets are neither drawn
// nor counted in the rate.
TEST_F(LinkSimTest, ShortTransfersAreNoPackets) {
  for (const int bytes : {8, 20, 63}) {
    SCOPED_TRACE(bytes);
    sim::SimulatedBus shortBus{Immediate()};
    const QString path = shortBus.AttachInstrument();
    const auto shortFrom = [&](int replyBytes, int streamBytes) {
      shortBus.WithInstrument(path, [&](sim::Instrument& i) {
        i.Faults().replyBytes = replyBytes;
        i.Faults().streamBytes = streamBytes;
      });
    };
    shortFrom(bytes, bytes);
    std::vector<Packet> handed;
    LinkController link(shortBus, [&](const Packet& p) { handed.push_back(p); });
    link.Start();

    std::vector<QString> messages;
    std::vector<InstrumentFileEntry> entries;
    InstrumentFileReader::Hooks hooks;
    hooks.showMessage = [&](MessageKind, const QString& text) { messages.push_back(text); };
    hooks.clearList = [&](FileSide) { shortFrom(bytes, bytes); };
    hooks.appendFile = [&](const InstrumentFile& f) {
      EXPECT_EQ(f.packetsStored, 0);
      entries.push_back(MakeInstrumentFileEntry(f));
    };
    InstrumentFileReader reader(link, hooks);
    reader.Read(FileSide::kMeasure);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(messages,
              std::vector<QString>{InstrumentFileReader::ListingErrorText(FileSide::kMeasure)});

    // A whole listing, then short file packets (they start once the list is emptied).
    messages.clear();
    shortFrom(kPacketSize, bytes);
    reader.Read(FileSide::kMeasure);
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& e : entries) EXPECT_TRUE(e.incomplete);

    // Two rate updates with only short packets on the stream: nothing counted, nothing drawn.
    int updates = 0;
    QObject::connect(&link, &LinkController::statusTextChanged, [&](int panel, const QString&) {
      if (panel == LinkController::kByteRatePanel) ++updates;
    });
    ASSERT_TRUE(test::PumpUntil([&] { return updates >= 2; }));
    EXPECT_EQ(link.StatusText(LinkController::kByteRatePanel), LinkController::ByteRateText(0));
    ASSERT_FALSE(handed.empty());
    EXPECT_TRUE(std::all_of(handed.begin(), handed.end(), [](const Packet& p) {
      return std::all_of(p.begin(), p.end(), [](std::uint8_t b) { return b == 0; });
    }));
    // Whole packets again: they are drawn and counted.
    shortFrom(kPacketSize, kPacketSize);
    ASSERT_TRUE(test::PumpUntil([&] {
      return std::any_of(handed.begin(), handed.end(),
                         [](const Packet& p) { return p != Packet{}; });
    }));
    link.Shutdown();
  }
}

// The listing's count is believed only up to what the instrument can hold; a file it then does
// not send is named, and the link, still up, is not blamed.
TEST_F(LinkSimTest, ListedCountIsBoundedAndAFileThatDoesNotComeIsNamed) {
  struct Case {
    int listed;
    QString message;
    std::size_t entries;
  } cases[] = {
      {65535, InstrumentFileReader::ListingErrorText(FileSide::kMeasure), 1},
      {257, InstrumentFileReader::ListingErrorText(FileSide::kMeasure), 1},
      {256, InstrumentFileReader::FileMissingText(4, 256), 3},
      {5, InstrumentFileReader::FileMissingText(4, 5), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.listed);
    sim::SimulatedBus countBus{Immediate()};
    const QString path = countBus.AttachInstrument();
    LinkController link(countBus, nullptr);
    link.Start();
    std::vector<QString> messages;
    std::size_t entries = 1;  // one entry from before this reading
    InstrumentFileReader::Hooks hooks;
    hooks.showMessage = [&](MessageKind, const QString& text) { messages.push_back(text); };
    hooks.clearList = [&](FileSide) { entries = 0; };
    hooks.appendFile = [&](const InstrumentFile& f) {
      EXPECT_TRUE(f.Complete());
      ++entries;
    };
    InstrumentFileReader reader(link, hooks);
    countBus.WithInstrument(path, [&](sim::Instrument& i) { i.Faults().listedCount = c.listed; });
    reader.Read(FileSide::kMeasure);
    EXPECT_EQ(messages, std::vector<QString>{c.message});
    EXPECT_EQ(entries, c.entries);
    EXPECT_EQ(link.Instruments().size(), 1);
  }
  EXPECT_EQ(InstrumentFileReader::FileMissingText(4, 5),
            QStringLiteral("Прибор на связи, но не прислал файл 004 из 5 !!!"));
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
