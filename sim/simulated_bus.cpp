#include "sim/simulated_bus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kd735::sim {
namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

// One plugged-in device of the bus.
struct SimulatedDevice {
  TUSBPnPInfo info;
  std::unique_ptr<Instrument> instrument;  // none for a foreign device
  bool attached = true;
  int unplugAfterReplies = -1;
};

namespace {

// The bytes a transfer delivers when the instrument sends only so many of a packet.
std::uint32_t Delivered(int bytes) { return std::uint32_t(std::clamp(bytes, 0, kPacketSize)); }

QString HardwareIdText(std::uint16_t vid, std::uint16_t pid) {
  return QStringLiteral("USB\\VID_%1&PID_%2")
      .arg(vid, 4, 16, QLatin1Char('0'))
      .arg(pid, 4, 16, QLatin1Char('0'))
      .toUpper();
}

}  // namespace

struct SimulatedBus::State {
  // Guards everything below, every instrument model held by the devices and the in-flight
  // transfer of every stream channel: one lock keeps the reader thread, the UI thread and
  // attach/detach consistent without lock ordering questions.
  std::mutex mu;
  // Signalled whenever a waiting transfer may have become able to finish: a detach, an abort, a
  // change made through WithInstrument, a clock step.
  std::condition_variable changed;
  std::vector<std::shared_ptr<SimulatedDevice>> devices;  // attached devices, in plug order
  std::function<void()> callback;
  Options options;
  bool denyAccess = false;
  bool claimedElsewhere = false;
  OpenError lastOpenError = OpenError::kNone;
  int nextPath = 1;
  int nextNumber = 123;
  Clock::time_point start = Clock::now();

  // Brings a model's clock up to date; call with mu held.
  void Tick(Instrument& instrument) const {
    if (options.realClock)
      instrument.SetTime(
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }
  std::chrono::milliseconds Cap(int timeoutMs) const {
    int ms = std::max(0, timeoutMs);
    if (options.timeoutCapMs >= 0) ms = std::min(ms, options.timeoutCapMs);
    return std::chrono::milliseconds(ms);
  }
  void Latency() const {
    if (options.latencyMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(options.latencyMs));
  }
  std::shared_ptr<SimulatedDevice> Find(const QString& devPath) const {
    for (const auto& d : devices)
      if (d->info.DevPath == devPath) return d;
    return nullptr;
  }
  // The device an open asks for, or nullptr with the reason noted; call with mu held.
  std::shared_ptr<SimulatedDevice> ForOpen(const QString& devPath) {
    auto device = Find(devPath);
    if (!device || !device->instrument) {
      lastOpenError = OpenError::kNotFound;
      return nullptr;
    }
    if (denyAccess) {
      lastOpenError = OpenError::kAccessDenied;
      return nullptr;
    }
    if (claimedElsewhere) {
      lastOpenError = OpenError::kBusy;
      return nullptr;
    }
    lastOpenError = OpenError::kNone;
    return device;
  }
  // Marks a device gone; call with mu held. The caller fires the change callback after unlocking.
  void Unplug(const std::shared_ptr<SimulatedDevice>& device) {
    device->attached = false;
    devices.erase(std::remove(devices.begin(), devices.end(), device), devices.end());
    changed.notify_all();
  }
};

namespace {

class SimCommandChannel : public CommandChannel {
 public:
  SimCommandChannel(std::shared_ptr<SimulatedBus::State> state,
                    std::shared_ptr<SimulatedDevice> device, std::function<void()> notify)
      : state_(std::move(state)), device_(std::move(device)), notify_(std::move(notify)) {}

  bool Transfer(TransferRecord& record, int timeoutMs, std::uint32_t& bytesReturned) override {
    state_->Latency();
    bool unplugged = false;
    bool ok = false;
    std::uint32_t bytes = kPacketSize;
    {
      std::unique_lock lock(state_->mu);
      if (!device_->attached) return false;
      Instrument& instrument = *device_->instrument;
      state_->Tick(instrument);
      if (record.Endpoint() == kCommandEndpoint) {
        ok = instrument.HandleCommand(record.DataPacket());
      } else if (record.Endpoint() == kReplyEndpoint) {
        state_->changed.wait_for(lock, state_->Cap(timeoutMs), [&] {
          return !device_->attached || instrument.PendingReplies() > 0;
        });
        Packet reply;
        ok = device_->attached && instrument.TakeReply(reply);
        if (ok) {
          bytes = Delivered(instrument.Faults().replyBytes);
          std::copy_n(reply.begin(), bytes, record.Data().begin());
          if (device_->unplugAfterReplies > 0 && --device_->unplugAfterReplies == 0) {
            state_->Unplug(device_);
            unplugged = true;
          }
        }
      }
    }
    if (unplugged) notify_();
    if (ok) bytesReturned = bytes;
    return ok;
  }

 private:
  std::shared_ptr<SimulatedBus::State> state_;
  std::shared_ptr<SimulatedDevice> device_;
  std::function<void()> notify_;
};

class SimStreamChannel : public StreamChannel {
 public:
  SimStreamChannel(std::shared_ptr<SimulatedBus::State> state,
                   std::shared_ptr<SimulatedDevice> device)
      : state_(std::move(state)), device_(std::move(device)) {}
  ~SimStreamChannel() override { Abort(); }

  bool SetTransferSize(TransferSizeRecord& record, int) override {
    std::lock_guard lock(state_->mu);
    return device_->attached && record.Endpoint() == kStreamEndpoint;
  }

  bool Submit(TransferRecord& record) override {
    std::lock_guard lock(state_->mu);
    if (!device_->attached || pending_ || record.Endpoint() != kStreamEndpoint) return false;
    pending_ = &record;
    return true;
  }

  Outcome Wait(int timeoutMs, std::uint32_t& bytesReturned) override {
    state_->Latency();
    std::unique_lock lock(state_->mu);
    if (!pending_) return Outcome::kFailed;
    Instrument& instrument = *device_->instrument;
    state_->changed.wait_for(lock, state_->Cap(timeoutMs), [&] {
      return !pending_ || !device_->attached || instrument.StreamReady();
    });
    if (!pending_) return Outcome::kFailed;  // aborted meanwhile
    if (!device_->attached) {
      pending_ = nullptr;
      return Outcome::kFailed;
    }
    if (!instrument.StreamReady()) return Outcome::kTimedOut;
    state_->Tick(instrument);
    const Packet packet = instrument.NextStreamPacket();
    const std::uint32_t bytes = Delivered(instrument.Faults().streamBytes);
    std::copy_n(packet.begin(), bytes, pending_->Data().begin());
    pending_ = nullptr;
    bytesReturned = bytes;
    return Outcome::kCompleted;
  }

  void Abort() override {
    std::lock_guard lock(state_->mu);
    pending_ = nullptr;
    state_->changed.notify_all();
  }

  // The channel stays usable (like a handle of a removed device), so cancelling succeeds.
  bool Cancel() override {
    Abort();
    return true;
  }

 private:
  std::shared_ptr<SimulatedBus::State> state_;
  std::shared_ptr<SimulatedDevice> device_;
  TransferRecord* pending_ = nullptr;  // guarded by state_->mu
};

}  // namespace

SimulatedBus::SimulatedBus() : SimulatedBus(Options{}) {}

SimulatedBus::SimulatedBus(Options options) : state_(std::make_shared<State>()) {
  state_->options = options;
}

SimulatedBus::~SimulatedBus() {
  // Channels may outlive the bus; they keep the state alive but see every device unplugged.
  std::lock_guard lock(state_->mu);
  for (const auto& d : state_->devices) d->attached = false;
  state_->devices.clear();
  state_->callback = nullptr;
  state_->changed.notify_all();
}

QString SimulatedBus::AttachInstrument(std::uint32_t seed, const QString& deviceNumber) {
  QString path;
  {
    std::lock_guard lock(state_->mu);
    const QString number =
        deviceNumber.isEmpty()
            ? QStringLiteral("%1").arg(state_->nextNumber++, 5, 10, QLatin1Char('0'))
            : deviceNumber;
    auto device = std::make_shared<SimulatedDevice>();
    device->instrument = std::make_unique<Instrument>(seed, number.toStdString());
    state_->Tick(*device->instrument);
    const int n = state_->nextPath++;
    TUSBPnPInfo& info = device->info;
    info.DeviceID = std::uint32_t(n);
    info.DevPath = path = QStringLiteral("sim:%1").arg(n);
    info.HardwareID = {InstrumentHardwareId() + QStringLiteral("&REV_0100"),
                       InstrumentHardwareId()};
    info.CompatibleIDs = {QStringLiteral("USB\\Class_FF&SubClass_00&Prot_00"),
                          QStringLiteral("USB\\Class_FF&SubClass_00"),
                          QStringLiteral("USB\\Class_FF")};
    info.DeviceDescr = QStringLiteral("KD735");
    info.Mfg = QStringLiteral("Simulated");
    info.EnumeratorName = QStringLiteral("USB");
    info.LocationInfo = QStringLiteral("KD735 N ") + number;
    info.Address = QString::number(n);
    state_->devices.push_back(std::move(device));
  }
  NotifyChange();
  return path;
}

QString SimulatedBus::AttachForeignDevice(std::uint16_t vendorId, std::uint16_t productId) {
  QString path;
  {
    std::lock_guard lock(state_->mu);
    auto device = std::make_shared<SimulatedDevice>();
    const int n = state_->nextPath++;
    device->info.DeviceID = std::uint32_t(n);
    device->info.DevPath = path = QStringLiteral("sim:%1").arg(n);
    device->info.HardwareID = {HardwareIdText(vendorId, productId) + QStringLiteral("&REV_0100"),
                               HardwareIdText(vendorId, productId)};
    device->info.DeviceDescr = QStringLiteral("USB device");
    device->info.EnumeratorName = QStringLiteral("USB");
    device->info.LocationInfo = QStringLiteral("Port_#%1").arg(n, 4, 10, QLatin1Char('0'));
    device->info.Address = QString::number(n);
    state_->devices.push_back(std::move(device));
  }
  NotifyChange();
  return path;
}

bool SimulatedBus::Detach(const QString& devPath) {
  {
    std::lock_guard lock(state_->mu);
    const auto device = state_->Find(devPath);
    if (!device) return false;
    state_->Unplug(device);
  }
  NotifyChange();
  return true;
}

void SimulatedBus::UnplugAfterReplies(const QString& devPath, int replies) {
  std::lock_guard lock(state_->mu);
  if (const auto device = state_->Find(devPath)) device->unplugAfterReplies = replies;
}

bool SimulatedBus::WithInstrument(const QString& devPath,
                                  const std::function<void(Instrument&)>& action) {
  std::lock_guard lock(state_->mu);
  const auto device = state_->Find(devPath);
  if (!device || !device->instrument) return false;
  state_->Tick(*device->instrument);
  action(*device->instrument);
  state_->changed.notify_all();
  return true;
}

void SimulatedBus::AdvanceClock(std::int64_t ms) {
  std::lock_guard lock(state_->mu);
  for (const auto& d : state_->devices)
    if (d->instrument) d->instrument->AdvanceTime(ms);
  state_->changed.notify_all();
}

QStringList SimulatedBus::AttachedPaths() const {
  std::lock_guard lock(state_->mu);
  QStringList paths;
  for (const auto& d : state_->devices) paths << d->info.DevPath;
  return paths;
}

std::vector<TUSBPnPInfo> SimulatedBus::ListDevices() {
  std::lock_guard lock(state_->mu);
  std::vector<TUSBPnPInfo> list;
  for (const auto& d : state_->devices) list.push_back(d->info);
  return list;
}

std::unique_ptr<CommandChannel> SimulatedBus::OpenCommandChannel(const QString& devPath) {
  std::lock_guard lock(state_->mu);
  const auto device = state_->ForOpen(devPath);
  if (!device) return nullptr;
  // The channel fires the change callback itself when a fault unplugs the device under it.
  std::weak_ptr<State> weak = state_;
  auto notify = [weak] {
    if (const auto state = weak.lock()) {
      std::function<void()> callback;
      {
        std::lock_guard l(state->mu);
        callback = state->callback;
      }
      if (callback) callback();
    }
  };
  return std::make_unique<SimCommandChannel>(state_, device, std::move(notify));
}

std::unique_ptr<StreamChannel> SimulatedBus::OpenStreamChannel(const QString& devPath) {
  std::lock_guard lock(state_->mu);
  const auto device = state_->ForOpen(devPath);
  if (!device) return nullptr;
  return std::make_unique<SimStreamChannel>(state_, device);
}

void SimulatedBus::DenyAccess(bool deny) {
  std::lock_guard lock(state_->mu);
  state_->denyAccess = deny;
}

void SimulatedBus::ClaimElsewhere(bool claimed) {
  std::lock_guard lock(state_->mu);
  state_->claimedElsewhere = claimed;
}

OpenError SimulatedBus::LastOpenError() const {
  std::lock_guard lock(state_->mu);
  return state_->lastOpenError;
}

void SimulatedBus::SetDeviceChangeCallback(std::function<void()> callback) {
  std::lock_guard lock(state_->mu);
  state_->callback = std::move(callback);
}

void SimulatedBus::NotifyChange() {
  std::function<void()> callback;
  {
    std::lock_guard lock(state_->mu);
    callback = state_->callback;
  }
  if (callback) callback();
}

}  // namespace kd735::sim
