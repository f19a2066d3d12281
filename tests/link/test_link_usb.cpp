// The whole link over the libusb backend against an instrument emulated by umockdev: discovery,
// stream, commands, file reading, and an unplug in the middle of a file.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <vector>

#include "link/file_reading.h"
#include "link/libusb_bus.h"
#include "link/link_controller.h"
#include "tests/common/cli_runner.h"
#include "tests/common/event_helpers.h"
#include "tests/common/requirements.h"
#include "tests/link/usb_testbed.h"

namespace kd735 {
namespace {

using testing::App;
using testing::PumpUntil;

class LinkOverUsbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    KD735_NEED(bed_.Active(), "umockdev's preload library");
  }
  test::UsbTestbed bed_;  // before the bus: libusb must start inside the emulation
};

TEST_F(LinkOverUsbTest, StreamCommandsFilesAndAnUnplugInTheMiddleOfAFile) {
  const int devnum = bed_.AddInstrument("00123", 11);
  // A fourth measurement file, so that three whole files come before the one cut short.
  std::vector<sim::FileRecord> want;
  bed_.WithInstrument(devnum, [&](sim::Instrument& i) {
    sim::MeasureFileSpec fields;
    fields.number = 4;
    fields.name = "TEST0004";
    fields.dateTime = "10.12.2026 12:00";
    i.Files(sim::kMeasureKind).push_back(sim::MakeMeasureRecord(fields));
    want = i.Files(sim::kMeasureKind);
  });
  ASSERT_EQ(want.size(), 4u);

  LibusbBus bus;
  int frames = 0;
  LinkController link(bus, [&](const Packet&) { ++frames; });
  link.Start();
  EXPECT_EQ(link.Instruments(), QStringList{QStringLiteral("KD735 N 00123")});
  EXPECT_TRUE(link.Log().join('\n').contains(QStringLiteral("Команда = AAAAh Данные 0000h OK")));
  ASSERT_TRUE(PumpUntil([&] { return frames > 70; }));  // more than two passes of the screen

  ASSERT_TRUE(link.SendCommand(command::kKey, key::kEnter));
  bed_.WithInstrument(devnum, [](sim::Instrument& i) {
    EXPECT_TRUE(i.Connected());
    EXPECT_EQ(i.CurrentPage(), sim::Page::kMenu);
  });

  std::vector<InstrumentFile> files;
  std::vector<QString> messages;
  InstrumentFileReader::Hooks hooks;
  hooks.showMessage = [&](MessageKind, const QString& text) { messages.push_back(text); };
  hooks.clearList = [&](FileSide) { files.clear(); };
  hooks.appendFile = [&](const InstrumentFile& f) { files.push_back(f); };
  InstrumentFileReader reader(link, hooks);

  // The listing reply, three whole files and 40 packets of the fourth, then the device is gone.
  bed_.UnplugAfterReplies(devnum, 1 + 3 * 128 + 40);
  reader.Read(FileSide::kMeasure);
  EXPECT_FALSE(reader.Busy());
  EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("НЕТ связи с прибором !!!")});
  ASSERT_EQ(files.size(), 3u);
  for (std::size_t k = 0; k < files.size(); ++k) {
    EXPECT_TRUE(files[k].Complete());
    EXPECT_TRUE(std::equal(files[k].bytes.begin(), files[k].bytes.end(), want[k].begin())) << k;
  }
  EXPECT_FALSE(link.SendCommand(command::kKey, key::kEscape));

  // The system learns of the unplug: the link drops the instrument and stops its reader.
  bed_.Unplug(devnum);
  bed_.Remove(devnum);
  ASSERT_TRUE(PumpUntil([&] { return link.Instruments().isEmpty(); }));
  EXPECT_EQ(link.StatusText(LinkController::kLinkPanel), QStringLiteral("Нет связи c КД735!!!"));
  link.Shutdown();
  EXPECT_EQ(link.CurrentReader(), nullptr);
}

// A hostile instrument that answers short (and a stalled stream), reached by the kd735 tool as a
// child process inside the same emulation: nothing that never came becomes a file or a picture.
TEST_F(LinkOverUsbTest, ToolRefusesWhatCameShortOrNotAtAll) {
  const int devnum = bed_.AddInstrument("00123", 11);
  QTemporaryDir dir;
  const auto faults = [&](int replyBytes, int streamBytes, bool stall) {
    bed_.WithInstrument(devnum, [&](sim::Instrument& i) {
      i.Faults().replyBytes = replyBytes;
      i.Faults().streamBytes = streamBytes;
      i.Faults().stallStream = stall;
    });
  };

  faults(8, kPacketSize, false);
  const testing::CliRun read = testing::RunKd735({"read", "measure", "--out", dir.path()});
  EXPECT_EQ(read.exitCode, 1) << read.err.toStdString();
  EXPECT_TRUE(read.err.contains(QStringLiteral("Ошибка составления списка")))
      << read.err.toStdString();
  EXPECT_TRUE(QDir(dir.path()).isEmpty());

  const QString picture = dir.filePath("screen.png");
  for (const auto& [streamBytes, stall] : {std::pair{20, false}, std::pair{64, true}}) {
    SCOPED_TRACE(stall ? "stalled stream" : "short stream packets");
    faults(kPacketSize, streamBytes, stall);
    const testing::CliRun screen = testing::RunKd735({"screen", picture});
    EXPECT_EQ(screen.exitCode, 1) << screen.err.toStdString();
    EXPECT_TRUE(screen.err.contains(QStringLiteral("no whole screen"))) << screen.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(picture));
  }
  faults(kPacketSize, kPacketSize, false);
  const testing::CliRun screen = testing::RunKd735({"screen", picture});
  EXPECT_EQ(screen.exitCode, 0) << screen.err.toStdString();
  EXPECT_TRUE(QFileInfo::exists(picture));
}

}  // namespace
}  // namespace kd735
