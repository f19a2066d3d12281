#include <gtest/gtest.h>

#include <QObject>

#include "link/stream_reader.h"
#include "tests/link/fake_bus.h"

namespace kd735 {
namespace {

using test::FakeBus;

int Seq(const Packet& p) { return p[0] << 8 | p[1]; }

class StreamReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    bus.Attach(test::MakeDevice("/dev/kd1", "KD735 N 1"));
  }

  // A reader whose hand-offs land in `seen`; onHandOff may act from inside one.
  std::unique_ptr<TUSB_Thread> Make(int waitTimeout = 500) {
    auto reader = std::make_unique<TUSB_Thread>(&ui, [this](const Packet& p) {
      seen.push_back(p);
      if (onHandOff) onHandOff();
    });
    EXPECT_TRUE(reader->OpenStream(bus, "/dev/kd1"));
    reader->SetWaitTimeout(waitTimeout);
    return reader;
  }

  FakeBus bus;
  QObject ui;
  std::vector<Packet> seen;
  std::function<void()> onHandOff;
};

TEST_F(StreamReaderTest, ShowsEachPacketOneCycleLaterStartingWithZeros) {
  auto reader = Make();
  EXPECT_TRUE(reader->IsSuspended());  // created suspended
  reader->Resume();
  EXPECT_FALSE(reader->IsSuspended());
  ASSERT_TRUE(test::PumpUntil([&] { return seen.size() >= 10; }));
  reader->StopAndWait();

  EXPECT_EQ(seen[0], Packet{});
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(Seq(seen[i]), int(i)) << i;
  // 64 bytes per completed packet.
  EXPECT_EQ(reader->ReceivedBytes(), 64 * bus.streamSeq);
  EXPECT_TRUE(reader->HasEnded());
  EXPECT_FALSE(reader->IsSuspended());  // an ended reader counts as not suspended
}

TEST_F(StreamReaderTest, StopsWithinOneCycle) {
  auto reader = Make();
  std::size_t atStop = 0;
  onHandOff = [&] {
    if (seen.size() == 5) {
      reader->Terminate();
      atStop = seen.size();
    }
  };
  reader->Resume();
  ASSERT_TRUE(test::PumpUntil([&] { return reader->HasEnded(); }));
  reader->StopAndWait();
  EXPECT_EQ(seen.size(), atStop);  // the cycle under way ends without a further hand-off
  EXPECT_EQ(bus.submits.load(), 5);
}

TEST_F(StreamReaderTest, TimedOutTransferIsAbortedBeforeTheRecordIsReused) {
  bus.streamMode = FakeBus::StreamMode::kTimeOut;
  auto reader = Make();
  reader->Resume();
  ASSERT_TRUE(test::PumpUntil([&] { return seen.size() >= 5; }));
  reader->StopAndWait();
  EXPECT_GE(bus.aborts.load(), 4);
  EXPECT_EQ(bus.reusedInFlight.load(), 0);
  EXPECT_EQ(reader->ReceivedBytes(), 0);
  for (const Packet& p : seen) EXPECT_EQ(p, Packet{});
}

TEST_F(StreamReaderTest, FailedTransfersPauseButStopAtOnce) {
  // With an hour-long wait a hot loop would issue many waits; a correct one issues one and a
  // stop still ends it at once.
  bus.streamMode = FakeBus::StreamMode::kFail;
  auto reader = Make(3600 * 1000);
  reader->Resume();
  ASSERT_TRUE(test::PumpUntil([&] { return bus.waits.load() >= 1; }));
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(bus.waits.load(), 1);
  reader->StopAndWait();
  EXPECT_TRUE(reader->HasEnded());
}

TEST_F(StreamReaderTest, SuspendAndResume) {
  auto reader = Make();
  reader->Resume();
  ASSERT_TRUE(test::PumpUntil([&] { return seen.size() >= 3; }));
  reader->Suspend();
  const std::size_t atSuspend = seen.size();
  EXPECT_TRUE(reader->IsSuspended());
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  // Only the hand-off of the cycle under way may still come.
  EXPECT_LE(seen.size(), atSuspend + 1);
  const std::size_t held = seen.size();
  reader->Resume();
  ASSERT_TRUE(test::PumpUntil([&] { return seen.size() >= held + 3; }));
  reader->Suspend();
  reader->StopAndWait();  // a suspended reader is ended too, not waited for forever
  EXPECT_TRUE(reader->HasEnded());
}

TEST_F(StreamReaderTest, NeverStartedReaderEndsWithoutRunning) {
  TUSB_Thread reader(&ui, [](const Packet&) {});
  EXPECT_FALSE(reader.CancelStream());  // no channel
  reader.StopAndWait();
  EXPECT_TRUE(reader.HasEnded());
  EXPECT_FALSE(reader.IsSuspended());
  EXPECT_EQ(bus.submits.load(), 0);
}

}  // namespace
}  // namespace kd735
