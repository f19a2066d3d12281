#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/command_protocol.h"
#include "sim/simulated_bus.h"
#include "tests/common/event_helpers.h"

namespace kd735::sim {
namespace {

using Outcome = StreamChannel::Outcome;

SimulatedBus::Options Quick() {
  SimulatedBus::Options o;
  o.timeoutCapMs = 0;  // transfers that cannot complete fail at once
  return o;
}

TEST(SimulatedBus, DevicesComeAndGoWithNotifications) {
  SimulatedBus bus(Quick());
  int changes = 0;
  bus.SetDeviceChangeCallback([&] { ++changes; });
  const QString first = bus.AttachInstrument(1);
  const QString foreign = bus.AttachForeignDevice(0x04B4, 0x1004);
  const QString second = bus.AttachInstrument(2);
  EXPECT_EQ(changes, 3);

  auto list = bus.ListDevices();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].DevPath, first);
  EXPECT_EQ(list[0].LocationInfo, QStringLiteral("KD735 N 00123"));
  EXPECT_TRUE(list[0].HardwareID.contains(InstrumentHardwareId()));
  EXPECT_EQ(list[2].LocationInfo, QStringLiteral("KD735 N 00124"));
  EXPECT_FALSE(list[1].HardwareID.contains(InstrumentHardwareId()));
  EXPECT_TRUE(list[1].HardwareID.contains(QStringLiteral("USB\\VID_04B4&PID_1004")));
  EXPECT_EQ(bus.OpenCommandChannel(foreign), nullptr);
  EXPECT_EQ(bus.OpenCommandChannel(QStringLiteral("sim:99")), nullptr);
  EXPECT_EQ(bus.LastOpenError(), OpenError::kNotFound);
  bus.DenyAccess(true);
  EXPECT_EQ(bus.OpenStreamChannel(first), nullptr);
  EXPECT_EQ(bus.LastOpenError(), OpenError::kAccessDenied);
  bus.DenyAccess(false);
  EXPECT_NE(bus.OpenStreamChannel(first), nullptr);
  EXPECT_EQ(bus.LastOpenError(), OpenError::kNone);

  EXPECT_TRUE(bus.Detach(first));
  EXPECT_FALSE(bus.Detach(first));
  EXPECT_EQ(changes, 4);
  list = bus.ListDevices();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].DevPath, foreign);

  bus.SetDeviceChangeCallback({});
  bus.AttachInstrument(3, QStringLiteral("00777"));
  EXPECT_EQ(changes, 4);
  EXPECT_EQ(bus.ListDevices().back().LocationInfo, QStringLiteral("KD735 N 00777"));
}

TEST(SimulatedBus, CommandsRepliesAndStreamTravelOverTheChannels) {
  SimulatedBus bus(Quick());
  const QString path = bus.AttachInstrument();
  auto command = bus.OpenCommandChannel(path);
  auto stream = bus.OpenStreamChannel(path);
  ASSERT_TRUE(command && stream);

  Packet reply;
  EXPECT_FALSE(testing::ReadReplyPacket(*command, reply));  // nothing asked yet
  EXPECT_EQ(ReplyWord(reply, 0), 0);
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kPrepare, 0));
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kListFiles, kBscanFileKind));
  ASSERT_TRUE(testing::ReadReplyPacket(*command, reply));
  EXPECT_EQ(ReplyWord(reply, 0), kListingReplyWord);
  EXPECT_EQ(ReplyWord(reply, 2), 2);

  TransferSizeRecord size = MakeTransferSizeRecord();
  EXPECT_TRUE(stream->SetTransferSize(size, 500));
  TransferRecord record = MakeTransferRecord(kStreamEndpoint);
  for (int i = 0; i < 32; ++i) {
    ASSERT_TRUE(stream->Submit(record));
    EXPECT_FALSE(stream->Submit(record));  // one transfer at a time
    std::uint32_t bytes = 0;
    ASSERT_EQ(stream->Wait(500, bytes), Outcome::kCompleted);
    EXPECT_EQ(bytes, 64u);
    EXPECT_EQ(record.Data()[3], 4 * i);
  }
  std::uint32_t bytes = 0;
  EXPECT_EQ(stream->Wait(500, bytes), Outcome::kFailed);  // nothing submitted

  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kKey, key::kEnter));
  bus.WithInstrument(path, [](Instrument& i) { EXPECT_EQ(i.CurrentPage(), Page::kMenu); });
}

TEST(SimulatedBus, StalledStreamTimesOutAndAbortFreesTheRecord) {
  SimulatedBus bus(Quick());
  const QString path = bus.AttachInstrument();
  auto stream = bus.OpenStreamChannel(path);
  bus.WithInstrument(path, [](Instrument& i) { i.Faults().stallStream = true; });
  TransferRecord record = MakeTransferRecord(kStreamEndpoint);
  ASSERT_TRUE(stream->Submit(record));
  std::uint32_t bytes = 7;
  EXPECT_EQ(stream->Wait(500, bytes), Outcome::kTimedOut);
  EXPECT_EQ(stream->Wait(500, bytes), Outcome::kTimedOut);
  EXPECT_EQ(bytes, 7u);
  stream->Abort();
  EXPECT_EQ(stream->Wait(500, bytes), Outcome::kFailed);
  // The stream resumes once the stall ends.
  bus.WithInstrument(path, [](Instrument& i) { i.Faults().stallStream = false; });
  ASSERT_TRUE(stream->Submit(record));
  EXPECT_EQ(stream->Wait(500, bytes), Outcome::kCompleted);
  EXPECT_TRUE(stream->Cancel());
}

TEST(SimulatedBus, DetachedDeviceFailsEveryTransferAtOnce) {
  SimulatedBus bus;  // full time-outs: a failure that waited would make this test slow, not fail
  const QString path = bus.AttachInstrument();
  auto command = bus.OpenCommandChannel(path);
  auto stream = bus.OpenStreamChannel(path);
  TransferRecord record = MakeTransferRecord(kStreamEndpoint);
  ASSERT_TRUE(stream->Submit(record));
  ASSERT_TRUE(bus.Detach(path));

  std::uint32_t bytes = 0;
  EXPECT_EQ(stream->Wait(100000, bytes), Outcome::kFailed);
  EXPECT_FALSE(stream->Submit(record));
  Packet reply;
  EXPECT_FALSE(testing::ReadReplyPacket(*command, reply));
  EXPECT_FALSE(testing::SendCommandPacket(*command, command::kConnect, 0));
  EXPECT_EQ(bus.OpenCommandChannel(path), nullptr);
  EXPECT_TRUE(stream->Cancel());
}

TEST(SimulatedBus, UnplugInTheMiddleOfAFile) {
  SimulatedBus bus(Quick());
  const QString path = bus.AttachInstrument();
  std::atomic<int> changes = 0;
  bus.SetDeviceChangeCallback([&] { ++changes; });
  auto command = bus.OpenCommandChannel(path);
  bus.UnplugAfterReplies(path, 1 + 40);  // the listing reply and 40 file packets
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kListFiles, kMeasureFileKind));
  Packet reply;
  ASSERT_TRUE(testing::ReadReplyPacket(*command, reply));
  ASSERT_TRUE(testing::SendCommandPacket(*command, command::kReadFile, 0));
  int packets = 0;
  while (testing::ReadReplyPacket(*command, reply)) ++packets;
  EXPECT_EQ(packets, 40);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(bus.ListDevices().empty());
  EXPECT_FALSE(testing::SendCommandPacket(*command, command::kPrepare, 0));
}

// Waits for what another thread brings about, a generous while at most.
template <typename Predicate>
bool Eventually(Predicate done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

// The stream reader's thread and the commands of the UI thread share the bus: commands go through
// while the stream runs and while it waits on a stalled instrument, and the stream resumes after.
TEST(SimulatedBus, ReaderThreadAndUiThreadRunSideBySide) {
  using namespace std::chrono_literals;
  SimulatedBus bus;
  const QString path = bus.AttachInstrument();
  auto command = bus.OpenCommandChannel(path);
  auto stream = bus.OpenStreamChannel(path);
  std::atomic<int> completed = 0;
  std::atomic<bool> ended = false;
  std::thread reader([&] {
    TransferRecord record = MakeTransferRecord(kStreamEndpoint);
    for (;;) {
      PrepareTransferHeader(record, kStreamEndpoint);
      if (!stream->Submit(record)) break;
      std::uint32_t bytes = 0;
      const Outcome outcome = stream->Wait(500, bytes);
      if (outcome == Outcome::kCompleted && bytes == kPacketSize) ++completed;
      if (outcome == Outcome::kTimedOut) stream->Abort();
    }
    ended = true;
  });
  const auto keys = [&](int n) {
    int sent = 0;
    for (int i = 0; i < n; ++i)
      sent += testing::SendCommandPacket(*command, command::kKey, i % 2 ? key::kUp : key::kDown);
    return sent;
  };

  EXPECT_TRUE(Eventually([&] { return completed >= 10; }));
  EXPECT_EQ(keys(100), 100);

  bus.WithInstrument(path, [](Instrument& in) { in.Faults().stallStream = true; });
  const int beforeStall = completed;
  // The reader now waits its 500 ms per transfer; commands must not wait with it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(keys(50), 50);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_LE(completed, beforeStall + 1);  // at most the transfer already under way

  bus.WithInstrument(path, [](Instrument& in) { in.Faults().stallStream = false; });
  EXPECT_TRUE(Eventually([&] { return completed > beforeStall + 10; }));
  EXPECT_EQ(keys(50), 50);

  bus.Detach(path);  // ends the reader: its next Submit fails
  EXPECT_TRUE(Eventually([&] { return ended.load(); }));
  reader.join();
}

TEST(SimulatedBus, MessageFrameFollowsTheBusClock) {
  SimulatedBus bus(Quick());
  const QString path = bus.AttachInstrument();
  auto command = bus.OpenCommandChannel(path);
  Packet packet = BuildCommandPacket(command::kScreenMessage, 50);  // one second
  packet[7] = 'A';
  TransferRecord record = MakeTransferRecord(kCommandEndpoint, packet);
  std::uint32_t bytes = 0;
  ASSERT_TRUE(command->Transfer(record, 1000, bytes));
  bool shown = false;
  bus.WithInstrument(path, [&](Instrument& i) { shown = i.MessageShown(); });
  EXPECT_TRUE(shown);
  bus.AdvanceClock(1000);
  bus.WithInstrument(path, [&](Instrument& i) { shown = i.MessageShown(); });
  EXPECT_FALSE(shown);
}

}  // namespace
}  // namespace kd735::sim
