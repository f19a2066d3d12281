// The libusb backend against instruments emulated by umockdev. The testbed is created before
// the bus, as libusb must start inside the emulated environment.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "link/command_protocol.h"
#include "link/libusb_bus.h"
#include "tests/common/event_helpers.h"
#include "tests/common/requirements.h"
#include "tests/link/usb_testbed.h"

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << text.toStdString(); }

namespace kd735 {
namespace {

using namespace std::chrono_literals;
using Outcome = StreamChannel::Outcome;

// Waits for a condition that another thread brings about; gives up after a generous time so
// that a fault fails the test instead of hanging it.
template <typename Predicate>
bool Eventually(Predicate done) {
  for (int i = 0; i < 2000 && !done(); ++i) std::this_thread::sleep_for(10ms);
  return done();
}

std::optional<TUSBPnPInfo> FindInstrument(const std::vector<TUSBPnPInfo>& list) {
  for (const auto& info : list)
    if (info.HardwareID.contains(InstrumentHardwareId())) return info;
  return std::nullopt;
}

class LibusbBusTest : public ::testing::Test {
 protected:
  void SetUp() override { KD735_NEED(bed_.Active(), "umockdev's preload library"); }
  test::UsbTestbed bed_;
};

TEST_F(LibusbBusTest, ListsEveryDeviceAndDescribesInstruments) {
  bed_.AddDevice(0x04B4, 0x1004);
  bed_.AddInstrument("00123");
  LibusbBus bus;
  ASSERT_TRUE(bus.IsReady());
  const auto list = bus.ListDevices();
  ASSERT_EQ(list.size(), 2u);
  const TUSBPnPInfo& foreign = list[0].DevPath == QStringLiteral("usb:001:002") ? list[0] : list[1];
  EXPECT_EQ(foreign.HardwareID, QStringList({QStringLiteral("USB\\VID_04B4&PID_1004&REV_0100"),
                                             QStringLiteral("USB\\VID_04B4&PID_1004")}));
  EXPECT_EQ(foreign.LocationInfo, QStringLiteral("Bus 1 Port 2"));
  const auto instrument = FindInstrument(list);
  ASSERT_TRUE(instrument);
  EXPECT_EQ(instrument->DevPath, QStringLiteral("usb:001:003"));
  EXPECT_EQ(instrument->LocationInfo, QStringLiteral("KD735 N 00123"));
  EXPECT_EQ(instrument->DeviceDescr, QStringLiteral("KD735"));
  EXPECT_EQ(instrument->Mfg, QStringLiteral("NPP"));
  EXPECT_EQ(instrument->BusNumber, 1u);
  EXPECT_EQ(instrument->Address, QStringLiteral("3"));
  EXPECT_EQ(bus.LastOpenError(), OpenError::kNone);
  EXPECT_EQ(bus.OpenCommandChannel(QStringLiteral("usb:009:009")), nullptr);
  EXPECT_EQ(bus.LastOpenError(), OpenError::kNotFound);
}

TEST_F(LibusbBusTest, CommandsRepliesAndStreamRunSideBySide) {
  const int devnum = bed_.AddInstrument("00123", 9);
  bed_.WithInstrument(devnum, [](sim::Instrument& i) { i.SetFillerEveryPasses(1); });
  LibusbBus bus;
  const auto info = FindInstrument(bus.ListDevices());
  ASSERT_TRUE(info);
  const QString path = info->DevPath;
  auto stream = bus.OpenStreamChannel(path);
  auto command = bus.OpenCommandChannel(path);  // the same handle, claimed once
  ASSERT_TRUE(stream && command);

  // The reader thread takes two passes while the UI thread reads a whole file.
  std::vector<Packet> streamed;
  std::thread reader([&] {
    TransferSizeRecord size = MakeTransferSizeRecord();
    EXPECT_TRUE(stream->SetTransferSize(size, 500));
    TransferRecord record = MakeTransferRecord(kStreamEndpoint);
    while (streamed.size() < 66) {
      PrepareTransferHeader(record, kStreamEndpoint);
      ASSERT_TRUE(stream->Submit(record));
      std::uint32_t bytes = 0;
      ASSERT_EQ(stream->Wait(2000, bytes), Outcome::kCompleted);
      ASSERT_EQ(bytes, 64u);
      streamed.push_back(record.DataPacket());
    }
  });

  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kConnect, 0));
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kPrepare, 0));
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kListFiles, kMeasureFileKind));
  Packet reply;
  ASSERT_TRUE(testing::ReadReplyPacket(*command, reply));
  EXPECT_EQ(ReplyWord(reply, 0), kListingReplyWord);
  EXPECT_EQ(ReplyWord(reply, 2), 3);
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kPrepare, 0));
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kReadFile, 2));
  std::array<std::uint8_t, kFileRecordSize> file{};
  int packets = 0;
  while (testing::ReadReplyPacket(*command, reply)) {
    ASSERT_TRUE(ReplyMatches(reply, kFilePacketWord, kMeasureFileKind, 2));
    StoreFilePacket(reply, file);
    ++packets;
    if (ReplyWord(reply, 3) == kLastFilePacket) break;
  }
  EXPECT_EQ(packets, 128);
  EXPECT_FALSE(testing::ReadReplyPacket(*command, reply));  // nothing more: the read times out
  reader.join();

  sim::FileRecord expected{};
  bed_.WithInstrument(devnum,
                      [&](sim::Instrument& i) { expected = i.Files(sim::kMeasureKind)[2]; });
  EXPECT_TRUE(std::equal(file.begin(), file.end(), expected.begin()));

  ASSERT_EQ(streamed.size(), 66u);
  for (std::size_t pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(streamed[33 * pass + i][3], 4 * i);
    EXPECT_EQ(streamed[33 * pass + 32][2], 0x55);
  }

  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kKey, key::kEnter));
  bed_.WithInstrument(devnum, [](sim::Instrument& i) {
    EXPECT_EQ(i.CurrentPage(), sim::Page::kMenu);
    EXPECT_TRUE(i.Connected());
  });
}

TEST_F(LibusbBusTest, StalledStreamTimesOutAndAbortCancels) {
  const int devnum = bed_.AddInstrument("00123");
  bed_.WithInstrument(devnum, [](sim::Instrument& i) { i.Faults().stallStream = true; });
  LibusbBus bus;
  auto stream = bus.OpenStreamChannel(FindInstrument(bus.ListDevices())->DevPath);
  ASSERT_TRUE(stream);
  TransferRecord record = MakeTransferRecord(kStreamEndpoint);
  ASSERT_TRUE(stream->Submit(record));
  std::uint32_t bytes = 0;
  EXPECT_EQ(stream->Wait(50, bytes), Outcome::kTimedOut);
  EXPECT_FALSE(stream->Submit(record));  // still in flight
  stream->Abort();
  EXPECT_EQ(stream->Wait(50, bytes), Outcome::kFailed);

  bed_.WithInstrument(devnum, [](sim::Instrument& i) { i.Faults().stallStream = false; });
  ASSERT_TRUE(stream->Submit(record));
  EXPECT_EQ(stream->Wait(2000, bytes), Outcome::kCompleted);
  EXPECT_TRUE(stream->Cancel());
}

TEST_F(LibusbBusTest, UnplugInTheMiddleFailsEveryLaterTransferAtOnce) {
  const int devnum = bed_.AddInstrument("00123");
  LibusbBus bus;
  std::atomic<int> changes = 0;
  bus.SetDeviceChangeCallback([&] { ++changes; });
  const QString path = FindInstrument(bus.ListDevices())->DevPath;
  auto stream = bus.OpenStreamChannel(path);
  auto command = bus.OpenCommandChannel(path);
  ASSERT_TRUE(stream && command);
  bed_.WithInstrument(devnum, [](sim::Instrument& i) { i.Faults().stallStream = true; });
  TransferRecord streamRecord = MakeTransferRecord(kStreamEndpoint);
  ASSERT_TRUE(stream->Submit(streamRecord));  // stays in flight across the unplug

  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kListFiles, kBscanFileKind));
  Packet reply;
  ASSERT_TRUE(testing::ReadReplyPacket(*command, reply));
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kReadFile, 0));
  for (int n = 0; n < 40; ++n) ASSERT_TRUE(testing::ReadReplyPacket(*command, reply));
  bed_.Unplug(devnum);

  // Each of these would otherwise wait its full time-out; the test's time limit catches a hang.
  std::uint32_t bytes = 0;
  EXPECT_EQ(stream->Wait(100000, bytes), Outcome::kFailed);
  EXPECT_FALSE(testing::ReadReplyPacket(*command, reply));
  EXPECT_FALSE(testing::SendCommandPacket(*command, command::kPrepare, 0));
  EXPECT_FALSE(stream->Submit(streamRecord));
  EXPECT_FALSE(testing::ReadReplyPacket(*command, reply));
  EXPECT_TRUE(Eventually([&] { return changes > 0; }));
  EXPECT_TRUE(stream->Cancel());

  bed_.Remove(devnum);
  EXPECT_TRUE(Eventually([&] { return !FindInstrument(bus.ListDevices()); }));
  EXPECT_EQ(bus.OpenCommandChannel(path), nullptr);
}

TEST_F(LibusbBusTest, UnplugWhileAReplyIsAwaited) {
  const int devnum = bed_.AddInstrument("00123");
  LibusbBus bus;
  const QString path = FindInstrument(bus.ListDevices())->DevPath;
  auto command = bus.OpenCommandChannel(path);
  ASSERT_TRUE(command);
  // The unplug comes once the read is under way at the device, never before it.
  std::atomic<bool> seenWaiting = false;
  std::thread unplugger([&] {
    seenWaiting = Eventually([&] { return bed_.WaitingReplyReads(devnum) > 0; });
    bed_.Unplug(devnum);
  });
  TransferRecord record = MakeTransferRecord(kReplyEndpoint);
  std::uint32_t bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(command->Transfer(record, 60000, bytes));
  const auto took = std::chrono::steady_clock::now() - start;
  unplugger.join();
  EXPECT_TRUE(seenWaiting);
  EXPECT_LT(took, 10s);  // it ended with the unplug, not at its 60 s time-out
  EXPECT_FALSE(testing::SendCommandPacket(*command, command::kConnect, 0));
}

TEST_F(LibusbBusTest, HotplugReportsArrivalAndRemoval) {
  LibusbBus bus;
  ASSERT_TRUE(bus.HasHotplug());
  std::atomic<int> changes = 0;
  bus.SetDeviceChangeCallback([&] { ++changes; });
  EXPECT_FALSE(FindInstrument(bus.ListDevices()));

  const int devnum = bed_.AddInstrument("00777");
  ASSERT_TRUE(Eventually([&] { return changes >= 1; }));
  const auto info = FindInstrument(bus.ListDevices());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->LocationInfo, QStringLiteral("KD735 N 00777"));

  const int before = changes;
  bed_.Unplug(devnum);
  bed_.Remove(devnum);
  EXPECT_TRUE(Eventually([&] { return changes > before; }));
  EXPECT_FALSE(FindInstrument(bus.ListDevices()));

  // Switched off, then another callback in its place: once that one has heard of the next
  // arrival, the old one would have heard of it too.
  bus.SetDeviceChangeCallback({});
  const int after = changes;
  std::atomic<int> witnessed = 0;
  bus.SetDeviceChangeCallback([&] { ++witnessed; });
  bed_.AddInstrument("00778");
  ASSERT_TRUE(Eventually([&] { return witnessed > 0; }));
  EXPECT_EQ(changes, after);
}

TEST_F(LibusbBusTest, NoCallbackRunsOnceNotificationIsSwitchedOff) {
  LibusbBus bus(LibusbBus::DeviceWatch::kPolling);
  std::atomic<bool> entered = false, offAsked = false, switchedOff = false, ranAfterOff = false,
                    left = false, leftBeforeOffReturned = false;
  bus.SetDeviceChangeCallback([&] {
    entered = true;
    // Runs on until the switch-off has been asked for, then waits (a bounded while) for it to
    // return: a switch-off that returned while the callback still runs is then seen here.
    EXPECT_TRUE(Eventually([&] { return offAsked.load(); }));
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (!switchedOff && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(1ms);
    if (switchedOff) ranAfterOff = true;  // the owner may already be gone
    left = true;
  });
  bed_.AddInstrument("00123");
  ASSERT_TRUE(Eventually([&] { return entered.load(); }));
  std::thread off([&] {
    offAsked = true;
    bus.SetDeviceChangeCallback({});
    leftBeforeOffReturned = left.load();
    switchedOff = true;
  });
  off.join();
  EXPECT_TRUE(leftBeforeOffReturned);
  EXPECT_FALSE(ranAfterOff);
}

TEST_F(LibusbBusTest, PollingNoticesArrivalAndRemovalWithoutHotplug) {
  LibusbBus bus(LibusbBus::DeviceWatch::kPolling);
  ASSERT_FALSE(bus.HasHotplug());
  std::atomic<int> changes = 0;
  bus.SetDeviceChangeCallback([&] { ++changes; });
  const int devnum = bed_.AddInstrument("00123");
  ASSERT_TRUE(Eventually([&] { return changes >= 1; }));
  const QString path = FindInstrument(bus.ListDevices())->DevPath;
  auto command = bus.OpenCommandChannel(path);
  ASSERT_TRUE(command);

  const int before = changes;
  bed_.Unplug(devnum);
  bed_.Remove(devnum);
  EXPECT_TRUE(Eventually([&] { return changes > before; }));
  EXPECT_FALSE(testing::SendCommandPacket(*command, command::kConnect, 0));
}

}  // namespace
}  // namespace kd735
