#pragma once

// A scripted stand-in for the bus: devices that can come and go, a command channel answered by
// a small instrument model, and a stream channel whose outcome the test chooses.

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <ostream>
#include <thread>

#include "link/command_protocol.h"
#include "link/usb_bus.h"
#include "tests/common/event_helpers.h"

// Readable Qt texts in test failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace kd735::test {

using kd735::testing::App;
using kd735::testing::PumpUntil;

inline TUSBPnPInfo MakeDevice(const QString& path, const QString& location,
                              const QStringList& hardwareIds = {"USB\\VID_0735&PID_0735"}) {
  TUSBPnPInfo d;
  d.DevPath = path;
  d.LocationInfo = location;
  d.HardwareID = hardwareIds;
  return d;
}

// Present while attached; channels opened on it fail once it is gone.
struct FakeDevice {
  TUSBPnPInfo info;
  std::atomic<bool> present{true};
};

class FakeBus;

class FakeCommandChannel final : public CommandChannel {
 public:
  FakeCommandChannel(FakeBus& bus, std::shared_ptr<FakeDevice> device)
      : bus_(bus), device_(std::move(device)) {}
  bool Transfer(TransferRecord& record, int timeoutMs, std::uint32_t& bytesReturned) override;

 private:
  FakeBus& bus_;
  std::shared_ptr<FakeDevice> device_;
};

// Stream outcome chosen by the test; packets carry a running number in bytes 0-1.
class FakeStreamChannel final : public StreamChannel {
 public:
  FakeStreamChannel(FakeBus& bus, std::shared_ptr<FakeDevice> device)
      : bus_(bus), device_(std::move(device)) {}
  bool SetTransferSize(TransferSizeRecord&, int) override { return device_->present; }
  bool Submit(TransferRecord& record) override;
  Outcome Wait(int timeoutMs, std::uint32_t& bytesReturned) override;
  void Abort() override;
  bool Cancel() override { return device_->present; }

 private:
  FakeBus& bus_;
  std::shared_ptr<FakeDevice> device_;
  TransferRecord* inFlight_ = nullptr;
};

class FakeBus final : public UsbBus {
 public:
  enum class StreamMode { kComplete, kTimeOut, kFail };

  std::vector<TUSBPnPInfo> ListDevices() override {
    std::lock_guard lock(mutex_);
    std::vector<TUSBPnPInfo> out;
    for (const auto& d : devices_)
      if (d->present) out.push_back(d->info);
    return out;
  }
  std::unique_ptr<CommandChannel> OpenCommandChannel(const QString& path) override {
    auto d = Find(path);
    if (!d || failCommandOpen) return nullptr;
    return std::make_unique<FakeCommandChannel>(*this, d);
  }
  std::unique_ptr<StreamChannel> OpenStreamChannel(const QString& path) override {
    auto d = Find(path);
    if (!d || failStreamOpen) return nullptr;
    return std::make_unique<FakeStreamChannel>(*this, d);
  }
  void SetDeviceChangeCallback(std::function<void()> callback) override {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
  }
  OpenError LastOpenError() const override {
    if (busy) return OpenError::kBusy;
    return accessDenied ? OpenError::kAccessDenied : OpenError::kNone;
  }

  // Plugging: the callback fires on the calling thread, as a hotplug thread would.
  void Attach(const TUSBPnPInfo& info) {
    {
      std::lock_guard lock(mutex_);
      auto d = std::make_shared<FakeDevice>();
      d->info = info;
      devices_.push_back(d);
    }
    Notify();
  }
  void Detach(const QString& path) {
    {
      std::lock_guard lock(mutex_);
      for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        if ((*it)->info.DevPath == path) {
          (*it)->present = false;
          devices_.erase(it);
          break;
        }
      }
    }
    Notify();
  }
  void Notify() {
    std::function<void()> cb;
    {
      std::lock_guard lock(mutex_);
      cb = callback_;
    }
    if (cb) cb();
  }

  // Instrument model: files by kind; the hook may rewrite the replies queued for a command.
  std::map<std::uint16_t, std::vector<std::array<std::uint8_t, kFileRecordSize>>> files;
  std::function<void(const Packet& command, std::deque<Packet>& replies)> rewrite;
  std::vector<Packet> commands;       // every command received, in order
  std::vector<QString> commandPaths;  // the device each command went to
  std::deque<Packet> replies;         // guarded by mutex_ (commands run on the UI thread only)

  std::atomic<StreamMode> streamMode{StreamMode::kComplete};
  std::atomic<int> submits{0}, waits{0}, aborts{0}, reusedInFlight{0};
  std::atomic<int> streamSeq{0};
  bool failStreamOpen = false;
  bool failCommandOpen = false;
  bool accessDenied = false;
  bool busy = false;  // the device is claimed by another process

  void OnCommand(const Packet& cmd) {
    commands.push_back(cmd);
    std::deque<Packet> out;
    const std::uint16_t code = ReplyWord(cmd, 0), data = ReplyWord(cmd, 1);
    if (code == command::kListFiles) {
      lastKind_ = data;
      Packet r{};
      r[0] = 0x0E;
      r[5] = std::uint8_t(files[data].size());
      r[4] = std::uint8_t(files[data].size() >> 8);
      out.push_back(r);
    } else if (code == command::kReadFile && data < files[lastKind_].size()) {
      const auto& bytes = files[lastKind_][data];
      for (int n = 0; n <= kLastFilePacket; ++n)
        out.push_back(FilePacket(lastKind_, data, n, bytes));
    }
    if (rewrite) rewrite(cmd, out);
    replies.insert(replies.end(), out.begin(), out.end());
  }

  static Packet FilePacket(std::uint16_t kind, std::uint16_t index, int n,
                           const std::array<std::uint8_t, kFileRecordSize>& bytes) {
    Packet p{};
    p[0] = 0x33, p[1] = 0x17, p[2] = std::uint8_t(kind >> 8), p[3] = std::uint8_t(kind);
    p[4] = std::uint8_t(index >> 8), p[5] = std::uint8_t(index), p[7] = std::uint8_t(n);
    std::copy_n(bytes.begin() + 32 * n, 32, p.begin() + 16);
    return p;
  }

 private:
  std::shared_ptr<FakeDevice> Find(const QString& path) {
    std::lock_guard lock(mutex_);
    for (auto& d : devices_)
      if (d->info.DevPath == path && d->present) return d;
    return nullptr;
  }

  std::mutex mutex_;  // protects devices_ and callback_
  std::vector<std::shared_ptr<FakeDevice>> devices_;
  std::function<void()> callback_;
  std::uint16_t lastKind_ = 0;
};

inline bool FakeCommandChannel::Transfer(TransferRecord& record, int, std::uint32_t& bytes) {
  if (!device_->present) return false;
  if (record.Endpoint() == kCommandEndpoint) {
    bus_.commandPaths.push_back(device_->info.DevPath);
    bus_.OnCommand(record.DataPacket());
    bytes = kPacketSize;
    return true;
  }
  if (bus_.replies.empty()) return false;  // nothing came within the wait
  const Packet p = bus_.replies.front();
  bus_.replies.pop_front();
  std::copy(p.begin(), p.end(), record.Data().begin());
  bytes = kPacketSize;
  return true;
}

inline bool FakeStreamChannel::Submit(TransferRecord& record) {
  ++bus_.submits;
  if (inFlight_) ++bus_.reusedInFlight;
  if (!device_->present) return false;
  inFlight_ = &record;
  return true;
}

inline StreamChannel::Outcome FakeStreamChannel::Wait(int, std::uint32_t& bytes) {
  ++bus_.waits;
  if (!inFlight_ || !device_->present || bus_.streamMode == FakeBus::StreamMode::kFail) {
    inFlight_ = nullptr;
    return Outcome::kFailed;
  }
  if (bus_.streamMode == FakeBus::StreamMode::kTimeOut) return Outcome::kTimedOut;
  const int seq = ++bus_.streamSeq;
  auto data = inFlight_->Data();
  std::fill(data.begin(), data.end(), std::uint8_t(0xA5));
  data[0] = std::uint8_t(seq >> 8);
  data[1] = std::uint8_t(seq);
  inFlight_ = nullptr;
  bytes = kPacketSize;
  return Outcome::kCompleted;
}

inline void FakeStreamChannel::Abort() {
  ++bus_.aborts;
  inFlight_ = nullptr;
}

}  // namespace kd735::test
