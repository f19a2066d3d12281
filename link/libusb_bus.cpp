#include "link/libusb_bus.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace kd735 {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kInstrumentVendor = 0x0735;
constexpr std::uint16_t kInstrumentProduct = 0x0735;
constexpr int kInterface = 0;
// How often a waiting transfer looks whether its device has gone.
constexpr auto kGoneCheck = 20ms;
// After a time-out or an abort libusb completes the cancelled transfer promptly; a device that
// vanished may never complete it, and then the transfer is given up after this long.
constexpr auto kCancelGrace = 1000ms;
constexpr auto kGoneCancelGrace = 200ms;
// Extra time for libusb's own time-out to complete a command transfer before it is cancelled.
constexpr auto kTimeoutMargin = 250ms;

QString PathOf(std::uint8_t bus, std::uint8_t address) {
  return QStringLiteral("usb:%1:%2")
      .arg(bus, 3, 10, QLatin1Char('0'))
      .arg(address, 3, 10, QLatin1Char('0'));
}

QString PathOf(libusb_device* device) {
  return PathOf(libusb_get_bus_number(device), libusb_get_device_address(device));
}

QString Hex4(unsigned v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); }
QString Hex2(unsigned v) { return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper(); }

OpenError ErrorOf(int libusbError) {
  switch (libusbError) {
    case LIBUSB_SUCCESS:
      return OpenError::kNone;
    case LIBUSB_ERROR_ACCESS:
      return OpenError::kAccessDenied;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
      return OpenError::kNotFound;
    case LIBUSB_ERROR_BUSY:
      return OpenError::kBusy;
    default:
      return OpenError::kOther;
  }
}

}  // namespace

struct LibusbDeviceHandle;

struct LibusbBus::Context {
  libusb_context* usb = nullptr;
  bool hotplug = false;
  libusb_hotplug_callback_handle hotplugHandle = 0;
  std::atomic<bool> stopping{false};
  std::thread events;
  std::thread poller;
  std::atomic<int> lastError{int(OpenError::kNone)};

  // Guards the table of open devices. Held only briefly and never across a libusb call, so the
  // event thread (hotplug) cannot deadlock with an opening thread.
  std::mutex mu;
  struct Open {
    std::weak_ptr<LibusbDeviceHandle> handle;
    std::shared_ptr<std::atomic<bool>> gone;
  };
  std::map<QString, Open> open;  // by device path
  // Guards the change callback and is held while it runs, so that once it has been replaced
  // (switched off by a closing link) the old one is no longer running and never runs again.
  // Recursive: a callback may switch itself off.
  std::recursive_mutex callbackMu;
  std::function<void()> callback;

  // Wakes the polling thread early when the bus closes.
  std::mutex pollMu;
  std::condition_variable pollWake;

  ~Context();
  void MarkGone(const QString& path);
  void FireChange();
  std::set<QString> PresentPaths();
};

// One open device: the libusb handle with the interface claimed, shared by both channels.
struct LibusbDeviceHandle {
  std::shared_ptr<LibusbBus::Context> context;
  libusb_device_handle* handle = nullptr;
  QString path;
  std::shared_ptr<std::atomic<bool>> gone = std::make_shared<std::atomic<bool>>(false);

  ~LibusbDeviceHandle() {
    {
      std::lock_guard lock(context->mu);
      const auto it = context->open.find(path);
      if (it != context->open.end() && it->second.gone == gone) context->open.erase(it);
    }
    libusb_release_interface(handle, kInterface);
    libusb_close(handle);
  }
  bool Gone() const { return gone->load(); }
};

namespace {

// One asynchronous 64-byte transfer and the buffer it fills. The buffer belongs to the slot, not
// to the caller's record, so a transfer that a vanished device never completes cannot write
// into memory the caller has already reused.
class TransferSlot {
 public:
  explicit TransferSlot(std::shared_ptr<LibusbDeviceHandle> device)
      : device_(std::move(device)), transfer_(libusb_alloc_transfer(0)) {}
  ~TransferSlot() { libusb_free_transfer(transfer_); }

  // Starts a transfer; false (device marked gone on LIBUSB_ERROR_NO_DEVICE) when it cannot.
  bool Submit(std::uint8_t endpoint, unsigned timeoutMs, const std::uint8_t* out) {
    std::unique_lock lock(mu_);
    if (busy_ && !done_) return false;  // a previous transfer is still in flight
    if (device_->Gone() || !transfer_) return false;
    if (out)
      std::copy_n(out, kPacketSize, buffer_.begin());
    else
      buffer_.fill(0);
    libusb_fill_bulk_transfer(transfer_, device_->handle, endpoint, buffer_.data(), kPacketSize,
                              &TransferSlot::OnDone, this, timeoutMs);
    busy_ = true;
    done_ = false;
    lock.unlock();
    const int r = libusb_submit_transfer(transfer_);
    lock.lock();
    if (r != LIBUSB_SUCCESS) {
      busy_ = false;
      if (r == LIBUSB_ERROR_NO_DEVICE) device_->gone->store(true);
      return false;
    }
    return true;
  }

  bool Busy() {
    std::lock_guard lock(mu_);
    return busy_;
  }

  // Waits up to `wait` for completion, returning early when the device goes. True when done.
  bool WaitDone(std::chrono::steady_clock::duration wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    std::unique_lock lock(mu_);
    while (!done_ && !device_->Gone()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= until) break;
      cv_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(until - now, kGoneCheck));
    }
    return done_;
  }

  // Takes the result of a completed transfer and frees the slot.
  int TakeResult(std::uint8_t* in, std::uint32_t& actual) {
    std::lock_guard lock(mu_);
    busy_ = false;
    if (status_ == LIBUSB_TRANSFER_NO_DEVICE) device_->gone->store(true);
    if (status_ == LIBUSB_TRANSFER_COMPLETED) {
      if (in) std::copy_n(buffer_.begin(), kPacketSize, in);
      actual = std::uint32_t(actual_);
    }
    return status_;
  }

  // Cancels a transfer in flight and waits for libusb to hand it back. True when the slot is free
  // again; false when the device vanished without completing it (the slot then stays busy).
  bool CancelAndAwait() {
    {
      std::lock_guard lock(mu_);
      if (!busy_) return true;
    }
    libusb_cancel_transfer(transfer_);
    const auto until =
        std::chrono::steady_clock::now() + (device_->Gone() ? kGoneCancelGrace : kCancelGrace);
    std::unique_lock lock(mu_);
    while (!done_ && std::chrono::steady_clock::now() < until) cv_.wait_for(lock, kGoneCheck);
    if (!done_) return false;
    busy_ = false;
    return true;
  }

  const std::shared_ptr<LibusbDeviceHandle>& Device() const { return device_; }

 private:
  static void LIBUSB_CALL OnDone(libusb_transfer* transfer) {
    auto* self = static_cast<TransferSlot*>(transfer->user_data);
    std::lock_guard lock(self->mu_);
    self->status_ = transfer->status;
    self->actual_ = transfer->actual_length;
    self->done_ = true;
    self->cv_.notify_all();
  }

  std::shared_ptr<LibusbDeviceHandle> device_;
  libusb_transfer* transfer_;
  // Guards the fields below, written by the libusb event thread when a transfer completes.
  std::mutex mu_;
  std::condition_variable cv_;
  std::array<std::uint8_t, kPacketSize> buffer_{};
  bool busy_ = false;
  bool done_ = false;
  int status_ = LIBUSB_TRANSFER_ERROR;
  int actual_ = 0;
};

// Frees a slot, unless libusb still owns its transfer: then the slot (and with it the device
// handle) is deliberately kept for the rest of the run rather than freed under libusb's feet.
void Release(std::shared_ptr<TransferSlot>& slot) {
  if (slot && slot->Busy() && !slot->CancelAndAwait()) {
    static std::mutex keepMu;
    static auto* kept = new std::vector<std::shared_ptr<TransferSlot>>;
    std::lock_guard lock(keepMu);
    kept->push_back(slot);
  }
  slot.reset();
}

class LibusbCommandChannel : public CommandChannel {
 public:
  explicit LibusbCommandChannel(std::shared_ptr<LibusbDeviceHandle> device)
      : slot_(std::make_shared<TransferSlot>(std::move(device))) {}
  ~LibusbCommandChannel() override { Release(slot_); }

  bool Transfer(TransferRecord& record, int timeoutMs, std::uint32_t& bytesReturned) override {
    const std::uint8_t endpoint = record.Endpoint();
    if (endpoint != kCommandEndpoint && endpoint != kReplyEndpoint) return false;
    const bool out = endpoint == kCommandEndpoint;
    // A slot whose earlier transfer a vanished device never completed stays busy: Submit fails.
    const unsigned timeout = unsigned(std::max(1, timeoutMs));
    if (!slot_->Submit(endpoint, timeout, out ? record.Data().data() : nullptr)) return false;
    if (!slot_->WaitDone(std::chrono::milliseconds(timeout) + kTimeoutMargin)) {
      slot_->CancelAndAwait();
      if (slot_->Busy()) return false;
    }
    std::uint32_t actual = 0;
    if (slot_->TakeResult(out ? nullptr : record.Data().data(), actual) !=
        LIBUSB_TRANSFER_COMPLETED)
      return false;
    bytesReturned = actual;
    return true;
  }

 private:
  std::shared_ptr<TransferSlot> slot_;
};

class LibusbStreamChannel : public StreamChannel {
 public:
  explicit LibusbStreamChannel(std::shared_ptr<LibusbDeviceHandle> device)
      : slot_(std::make_shared<TransferSlot>(std::move(device))) {}
  ~LibusbStreamChannel() override { Release(slot_); }

  // The endpoint's packet size comes from its descriptor (64 bytes); nothing to set.
  bool SetTransferSize(TransferSizeRecord& record, int) override {
    return !slot_->Device()->Gone() && record.Endpoint() == kStreamEndpoint;
  }

  bool Submit(TransferRecord& record) override {
    if (pending_ || record.Endpoint() != kStreamEndpoint) return false;
    if (!slot_->Submit(kStreamEndpoint, 0, nullptr)) return false;
    pending_ = &record;
    return true;
  }

  Outcome Wait(int timeoutMs, std::uint32_t& bytesReturned) override {
    if (!pending_) return Outcome::kFailed;
    if (!slot_->WaitDone(std::chrono::milliseconds(std::max(0, timeoutMs)))) {
      if (!slot_->Device()->Gone()) return Outcome::kTimedOut;
      pending_ = nullptr;  // the record is not written any more: the slot owns the buffer
      return Outcome::kFailed;
    }
    std::uint32_t actual = 0;
    const int status = slot_->TakeResult(pending_->Data().data(), actual);
    pending_ = nullptr;
    if (status != LIBUSB_TRANSFER_COMPLETED) return Outcome::kFailed;
    bytesReturned = actual;
    return Outcome::kCompleted;
  }

  void Abort() override {
    if (!pending_) return;
    slot_->CancelAndAwait();
    pending_ = nullptr;
  }

  // The handle stays open until the channel is destroyed, so cancelling always succeeds.
  bool Cancel() override {
    Abort();
    if (!pending_ && slot_->Busy()) slot_->CancelAndAwait();
    return true;
  }

 private:
  std::shared_ptr<TransferSlot> slot_;
  TransferRecord* pending_ = nullptr;  // used by the reader thread only
};

int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                          void* userData) {
  auto* context = static_cast<LibusbBus::Context*>(userData);
  if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT) context->MarkGone(PathOf(device));
  context->FireChange();
  return 0;  // stay registered
}

QString StringDescriptor(libusb_device_handle* handle, std::uint8_t index) {
  if (index == 0) return {};
  unsigned char text[256] = {};
  const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text - 1);
  return n > 0 ? QString::fromLatin1(reinterpret_cast<const char*>(text), n).trimmed() : QString();
}

}  // namespace

LibusbBus::Context::~Context() {
  stopping = true;
  pollWake.notify_all();
  if (poller.joinable()) poller.join();
  if (hotplug) libusb_hotplug_deregister_callback(usb, hotplugHandle);
  if (usb) libusb_interrupt_event_handler(usb);
  if (events.joinable()) events.join();
  if (usb) libusb_exit(usb);
}

void LibusbBus::Context::MarkGone(const QString& path) {
  std::lock_guard lock(mu);
  const auto it = open.find(path);
  if (it != open.end()) it->second.gone->store(true);
}

void LibusbBus::Context::FireChange() {
  std::lock_guard lock(callbackMu);
  if (callback) {
    const std::function<void()> copy = callback;  // survives the callback switching itself off
    copy();
  }
}

std::set<QString> LibusbBus::Context::PresentPaths() {
  std::set<QString> paths;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(usb, &list);
  for (ssize_t i = 0; i < n; ++i) paths.insert(PathOf(list[i]));
  if (list) libusb_free_device_list(list, 1);
  return paths;
}

LibusbBus::LibusbBus(DeviceWatch watch) : context_(std::make_shared<Context>()) {
  Context& c = *context_;
  if (libusb_init(&c.usb) != LIBUSB_SUCCESS) {
    c.usb = nullptr;
    return;
  }
  c.events = std::thread([&c] {
    while (!c.stopping) {
      timeval tv{0, 200000};
      libusb_handle_events_timeout_completed(c.usb, &tv, nullptr);
    }
  });
  if (watch == DeviceWatch::kHotplugWhereAvailable &&
      libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
    c.hotplug = libusb_hotplug_register_callback(
                    c.usb,
                    libusb_hotplug_event(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                         LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                    libusb_hotplug_flag(0), LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                    LIBUSB_HOTPLUG_MATCH_ANY, &OnHotplug, &c, &c.hotplugHandle) == LIBUSB_SUCCESS;
  }
  if (!c.hotplug) {
    // No hotplug events: compare the device list once a second.
    // The first look is taken here, so that a device plugged in right after construction counts
    // as an arrival.
    c.poller = std::thread([&c, known = c.PresentPaths()]() mutable {
      std::unique_lock lock(c.pollMu);
      while (!c.stopping) {
        c.pollWake.wait_for(lock, 1s);
        if (c.stopping) break;
        lock.unlock();
        const std::set<QString> now = c.PresentPaths();
        if (now != known) {
          for (const QString& path : known)
            if (!now.count(path)) c.MarkGone(path);
          known = now;
          c.FireChange();
        }
        lock.lock();
      }
    });
  }
}

LibusbBus::~LibusbBus() {
  // Channels still open keep the context (and its event thread) alive until they go.
  SetDeviceChangeCallback({});
}

bool LibusbBus::IsReady() const { return context_->usb != nullptr; }
bool LibusbBus::HasHotplug() const { return context_->hotplug; }

OpenError LibusbBus::LastOpenError() const { return OpenError(context_->lastError.load()); }

void LibusbBus::SetDeviceChangeCallback(std::function<void()> callback) {
  std::lock_guard lock(context_->callbackMu);
  context_->callback = std::move(callback);
}

std::vector<TUSBPnPInfo> LibusbBus::ListDevices() {
  std::vector<TUSBPnPInfo> result;
  Context& c = *context_;
  if (!c.usb) return result;
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(c.usb, &list);
  for (ssize_t i = 0; i < n; ++i) {
    libusb_device* device = list[i];
    libusb_device_descriptor d{};
    if (libusb_get_device_descriptor(device, &d) != LIBUSB_SUCCESS) continue;
    TUSBPnPInfo info;
    const std::uint8_t bus = libusb_get_bus_number(device);
    const std::uint8_t address = libusb_get_device_address(device);
    info.DevPath = PathOf(bus, address);
    info.DeviceID = std::uint32_t(bus) << 8 | address;
    const QString id = QStringLiteral("USB\\VID_") + Hex4(d.idVendor) + QStringLiteral("&PID_") +
                       Hex4(d.idProduct);
    info.HardwareID = {id + QStringLiteral("&REV_") + Hex4(d.bcdDevice), id};
    if (d.bDeviceClass != 0) {
      const QString cls = QStringLiteral("USB\\Class_") + Hex2(d.bDeviceClass);
      const QString sub = cls + QStringLiteral("&SubClass_") + Hex2(d.bDeviceSubClass);
      info.CompatibleIDs = {sub + QStringLiteral("&Prot_") + Hex2(d.bDeviceProtocol), sub, cls};
    }
    info.EnumeratorName = QStringLiteral("USB");
    info.BusNumber = bus;
    info.Address = QString::number(address);
    std::uint8_t ports[8] = {};
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    QString portText;
    for (int k = 0; k < depth; ++k)
      portText += (k ? QStringLiteral(".") : QString()) + QString::number(ports[k]);
    info.LocationInfo = QStringLiteral("Bus %1 Port %2").arg(bus).arg(portText);

    if (d.idVendor == kInstrumentVendor && d.idProduct == kInstrumentProduct) {
      // Only instruments are opened to read their strings; other devices stay untouched.
      std::shared_ptr<LibusbDeviceHandle> shared;
      {
        std::lock_guard lock(c.mu);
        const auto it = c.open.find(info.DevPath);
        if (it != c.open.end()) shared = it->second.handle.lock();
      }
      libusb_device_handle* handle = shared ? shared->handle : nullptr;
      if (!handle) {
        const int r = libusb_open(device, &handle);
        c.lastError = int(ErrorOf(r));
        if (r != LIBUSB_SUCCESS) handle = nullptr;
      }
      if (handle) {
        info.Mfg = StringDescriptor(handle, d.iManufacturer);
        info.DeviceDescr = StringDescriptor(handle, d.iProduct);
        const QString serial = StringDescriptor(handle, d.iSerialNumber);
        if (!info.DeviceDescr.isEmpty() && !serial.isEmpty())
          info.LocationInfo =
              info.DeviceDescr +
              (serial.startsWith(QLatin1Char('N')) ? QStringLiteral(" ") : QStringLiteral(" N ")) +
              serial;
        else if (!info.DeviceDescr.isEmpty())
          info.LocationInfo = info.DeviceDescr;
        if (!shared) libusb_close(handle);
      }
    }
    result.push_back(std::move(info));
  }
  if (list) libusb_free_device_list(list, 1);
  return result;
}

namespace {

std::shared_ptr<LibusbDeviceHandle> OpenDevice(const std::shared_ptr<LibusbBus::Context>& context,
                                               const QString& devPath) {
  LibusbBus::Context& c = *context;
  if (!c.usb) {
    c.lastError = int(OpenError::kOther);
    return nullptr;
  }
  {
    std::lock_guard lock(c.mu);
    const auto it = c.open.find(devPath);
    if (it != c.open.end()) {
      if (auto live = it->second.handle.lock()) {
        if (live->Gone()) {
          c.lastError = int(OpenError::kNotFound);
          return nullptr;
        }
        c.lastError = int(OpenError::kNone);
        return live;
      }
    }
  }
  libusb_device** list = nullptr;
  const ssize_t n = libusb_get_device_list(c.usb, &list);
  libusb_device_handle* handle = nullptr;
  int r = LIBUSB_ERROR_NOT_FOUND;
  for (ssize_t i = 0; i < n; ++i) {
    if (PathOf(list[i]) == devPath) {
      r = libusb_open(list[i], &handle);
      break;
    }
  }
  if (list) libusb_free_device_list(list, 1);
  if (r == LIBUSB_SUCCESS) {
    libusb_set_auto_detach_kernel_driver(handle, 1);
    r = libusb_claim_interface(handle, kInterface);
    if (r != LIBUSB_SUCCESS) {
      libusb_close(handle);
      handle = nullptr;
    }
  }
  c.lastError = int(ErrorOf(r));
  if (r != LIBUSB_SUCCESS) return nullptr;

  auto device = std::make_shared<LibusbDeviceHandle>();
  device->context = context;
  device->handle = handle;
  device->path = devPath;
  std::lock_guard lock(c.mu);
  c.open[devPath] = {device, device->gone};
  return device;
}

}  // namespace

std::unique_ptr<CommandChannel> LibusbBus::OpenCommandChannel(const QString& devPath) {
  auto device = OpenDevice(context_, devPath);
  if (!device) return nullptr;
  return std::make_unique<LibusbCommandChannel>(std::move(device));
}

std::unique_ptr<StreamChannel> LibusbBus::OpenStreamChannel(const QString& devPath) {
  auto device = OpenDevice(context_, devPath);
  if (!device) return nullptr;
  return std::make_unique<LibusbStreamChannel>(std::move(device));
}

}  // namespace kd735
