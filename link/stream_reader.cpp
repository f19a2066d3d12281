#include "link/stream_reader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <algorithm>

namespace kd735 {

TUSB_Thread::TUSB_Thread(QObject* uiReceiver, HandOff handOff) : handOff_(std::move(handOff)) {
  handOffTarget_.moveToThread(uiReceiver->thread());
}

TUSB_Thread::~TUSB_Thread() { StopAndWait(); }

bool TUSB_Thread::OpenStream(UsbBus& bus, const QString& devPath) {
  channel_ = bus.OpenStreamChannel(devPath);
  return channel_ != nullptr;
}

bool TUSB_Thread::CancelStream() { return channel_ && channel_->Cancel(); }

void TUSB_Thread::Resume() {
  if (ended_.load() || terminate_.load()) return;
  {
    std::lock_guard lock(gateMutex_);
    suspended_.store(false);
  }
  gate_.notify_all();
  if (!started_) {
    started_ = true;
    start(QThread::LowPriority);
  }
}

void TUSB_Thread::Suspend() {
  if (ended_.load()) return;
  std::lock_guard lock(gateMutex_);
  suspended_.store(true);
}

bool TUSB_Thread::IsSuspended() const { return suspended_.load() && !ended_.load(); }

void TUSB_Thread::Terminate() {
  {
    std::lock_guard lock(gateMutex_);
    terminate_.store(true);
  }
  gate_.notify_all();
  // A reader that never ran has nothing to wait for.
  if (!started_) ended_.store(true);
}

void TUSB_Thread::StopAndWait() {
  Terminate();
  if (!started_) return;
  // Only this reader's hand-offs are served meanwhile. A general event loop here would let
  // timers, device changes and input re-enter the caller in the middle of its stop, and a stop
  // begun from inside such an event did not always get the hand-off delivered: both threads hung.
  while (!wait(QDeadlineTimer(kHandOffPollMs)))
    QCoreApplication::sendPostedEvents(&handOffTarget_, QEvent::MetaCall);
  // Setting ended_ is the body's last act on this object's members; reading it orders all of the
  // body before whatever the caller does next (QThread's own wait uses a lock that tools such as
  // ThreadSanitizer cannot see in an uninstrumented Qt).
  (void)ended_.load(std::memory_order_acquire);
}

void TUSB_Thread::SleepUnlessTerminated(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(gateMutex_);
  gate_.wait_until(lock, deadline, [this] { return terminate_.load(); });
}

void TUSB_Thread::run() {
  using Clock = std::chrono::steady_clock;
  if (channel_) {
    TransferSizeRecord size = MakeTransferSizeRecord(kStreamEndpoint, kPacketSize);
    channel_->SetTransferSize(size, waitTimeout_.load());  // the result does not matter
  }
  receivedBytes_.store(0);

  while (!terminate_.load()) {
    {
      std::unique_lock lock(gateMutex_);
      gate_.wait(lock, [this] { return !suspended_.load() || terminate_.load(); });
    }
    if (terminate_.load()) break;

    PrepareTransferHeader(record_, kStreamEndpoint);
    const bool submitted = channel_ && channel_->Submit(record_);

    // The handler draws the packet of the previous cycle while this one is in flight.
    QMetaObject::invokeMethod(
        &handOffTarget_, [this] { handOff_(streamPacket_); }, Qt::BlockingQueuedConnection);

    const int timeout = waitTimeout_.load();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    std::uint32_t bytes = 0;
    const StreamChannel::Outcome outcome =
        submitted ? channel_->Wait(timeout, bytes) : StreamChannel::Outcome::kFailed;
    switch (outcome) {
      case StreamChannel::Outcome::kCompleted: {
        // A short transfer is no packet: neither drawn nor counted, as its missing bytes never
        // came. The last whole packet stays the one handed over.
        if (bytes != std::uint32_t(kPacketSize)) break;
        const auto data = record_.Data();
        std::copy(data.begin(), data.end(), streamPacket_.begin());
        receivedBytes_.fetch_add(kPacketSize);
        packetsReceived_.fetch_add(1);
        break;
      }
      case StreamChannel::Outcome::kTimedOut:
        // The record must not be reused while the transfer is still in flight.
        channel_->Abort();
        break;
      case StreamChannel::Outcome::kFailed:
        // A gone device fails at once; pausing keeps the loop from spinning.
        SleepUnlessTerminated(deadline);
        break;
    }
  }

  ended_.store(true);
  Q_EMIT bodyEnded();
}

}  // namespace kd735
