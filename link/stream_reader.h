#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "link/transfer_record.h"
#include "link/usb_bus.h"

namespace kd735 {

// The screen-stream reader: one transfer in flight on its own stream channel; once per cycle it
// hands StreamPacket (the packet completed in the previous cycle) to a handler that runs on the
// UI thread while the reader waits for it to return.
//
// Created suspended: the thread starts with the first Resume. Suspension takes effect at the top
// of a cycle. Every member except the thread body and the counter is used on the UI thread.
class TUSB_Thread final : public QThread {
  Q_OBJECT

 public:
  using HandOff = std::function<void(const Packet& streamPacket)>;

  // uiReceiver lives on the UI thread and must outlive the reader; handOff runs in its thread.
  TUSB_Thread(QObject* uiReceiver, HandOff handOff);
  // Stops a running reader first (serving its hand-offs meanwhile).
  ~TUSB_Thread() override;

  // Opens the stream channel on the device path; true when it opened.
  bool OpenStream(UsbBus& bus, const QString& devPath);
  // False with no open channel, else the channel's cancel result.
  bool CancelStream();

  void SetWaitTimeout(int ms) { waitTimeout_.store(ms); }
  int WaitTimeout() const { return waitTimeout_.load(); }

  void Resume();
  void Suspend();
  // A reader that has ended counts as not suspended.
  bool IsSuspended() const;
  bool HasEnded() const { return ended_.load(); }

  // Asks the loop to end at the top of its next cycle; also ends a suspended or never-started one.
  void Terminate();
  // Terminates and waits until the thread has ended, serving this reader's hand-offs (and nothing
  // else) meanwhile. Call on the UI thread, not from inside this reader's hand-off.
  void StopAndWait();

  // The last completed packet; read it only inside the hand-off (the reader is blocked then).
  const Packet& StreamPacket() const { return streamPacket_; }

  // Bytes of whole packets (64 each) since the last take.
  std::int32_t ReceivedBytes() const { return receivedBytes_.load(); }
  std::int32_t TakeReceivedBytes() { return receivedBytes_.exchange(0); }
  // Whole packets received since the start. Inside a hand-off, a count unchanged since the
  // previous one means StreamPacket is the same packet handed over again (nothing new came).
  std::uint64_t PacketsReceived() const { return packetsReceived_.load(); }

 Q_SIGNALS:
  // Emitted from the reader's thread as its body's last act.
  void bodyEnded();

 protected:
  void run() override;

 private:
  // Sleeps until the deadline unless told to terminate first.
  void SleepUnlessTerminated(std::chrono::steady_clock::time_point deadline);

  static constexpr int kHandOffPollMs = 2;

  // The hand-offs are queued to this object on the UI thread, so a stop can serve exactly them.
  QObject handOffTarget_;
  HandOff handOff_;
  std::unique_ptr<StreamChannel> channel_;
  TransferRecord record_;
  Packet streamPacket_{};
  std::atomic<int> waitTimeout_{500};
  std::atomic<std::int32_t> receivedBytes_{0};
  std::atomic<std::uint64_t> packetsReceived_{0};
  std::atomic<bool> terminate_{false};
  std::atomic<bool> suspended_{true};
  std::atomic<bool> ended_{false};
  bool started_ = false;  // UI thread only

  // Guards nothing but the sleeps on gate_: the suspend gate and the failed-transfer pause wake
  // on it when suspended_ or terminate_ change.
  std::mutex gateMutex_;
  std::condition_variable gate_;
};

}  // namespace kd735
