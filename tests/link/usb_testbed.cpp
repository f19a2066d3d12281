// umockdev and glib only: no Qt header may appear here (glib uses "signals" as a member name).
#include "tests/link/usb_testbed.h"

#ifdef KD735_HAVE_UMOCKDEV

#include <errno.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

namespace kd735::test {
namespace {

// Device (18 bytes, strings 1..3), configuration (9), interface (9, class 0xFF, 3 endpoints)
// and the three 64-byte bulk endpoints.
std::string Descriptors(std::uint16_t vid, std::uint16_t pid, bool strings) {
  char device[64];
  std::snprintf(device, sizeof device, "1201100100000040%02x%02x%02x%02x0001%s01", vid & 0xFF,
                vid >> 8, pid & 0xFF, pid >> 8, strings ? "010203" : "000000");
  return std::string(device) +
         "0902270001010080320904000003ff000000"
         "070501024000000705830240000007058202400000";
}

// The bytes a transfer delivers when the instrument sends only so many of a packet.
int Delivered(int bytes) { return std::clamp(bytes, 0, kPacketSize); }

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
  std::vector<std::uint8_t> d = {std::uint8_t(2 + 2 * text.size()), 3};
  for (const char ch : text) {
    d.push_back(std::uint8_t(ch));
    d.push_back(0);
  }
  return d;
}

}  // namespace

struct MockDevice {
  int devnum = 0;
  std::string syspath;
  std::string devnode;
  std::unique_ptr<sim::Instrument> instrument;
  std::string serial;
  UMockdevIoctlBase* handler = nullptr;

  // Guards everything below: the handler runs on umockdev's worker thread, tests on theirs.
  std::mutex mu;
  std::deque<UMockdevIoctlData*> waitingReply;   // URBs on 0x83 waiting for a reply
  std::deque<UMockdevIoctlData*> waitingStream;  // URBs on 0x82 while the stream is stalled
  std::deque<UMockdevIoctlData*> completed;      // URBs ready to be reaped
  bool unplugged = false;
  bool ueventSent = false;
  int unplugAfterReplies = -1;

  static usbdevfs_urb* Urb(UMockdevIoctlData* d) {
    return reinterpret_cast<usbdevfs_urb*>(d->data);
  }

  static std::uint8_t* Buffer(UMockdevIoctlData* urbd) {
    GError* err = nullptr;
    UMockdevIoctlData* buf = umockdev_ioctl_data_resolve(
        urbd, offsetof(usbdevfs_urb, buffer), std::size_t(Urb(urbd)->buffer_length), &err);
    if (!buf) {
      g_clear_error(&err);
      return nullptr;
    }
    return buf->data;
  }

  void Complete(UMockdevIoctlData* urbd, const std::uint8_t* data, int length, int offset = 0) {
    usbdevfs_urb* urb = Urb(urbd);
    const int n = std::min(length, urb->buffer_length - offset);
    if (std::uint8_t* buf = Buffer(urbd); buf && data && n > 0) std::copy_n(data, n, buf + offset);
    urb->actual_length = std::max(0, n);
    urb->status = 0;
    completed.push_back(urbd);
  }

  void ServeReplies() {
    while (!unplugged && !waitingReply.empty()) {
      Packet reply;
      if (!instrument->TakeReply(reply)) break;
      UMockdevIoctlData* urbd = waitingReply.front();
      waitingReply.pop_front();
      Complete(urbd, reply.data(), Delivered(instrument->Faults().replyBytes));
      if (unplugAfterReplies > 0 && --unplugAfterReplies == 0) Cut();
    }
  }

  void ServeStream() {
    while (!unplugged && !waitingStream.empty() && instrument->StreamReady()) {
      const Packet p = instrument->NextStreamPacket();
      UMockdevIoctlData* urbd = waitingStream.front();
      waitingStream.pop_front();
      Complete(urbd, p.data(), Delivered(instrument->Faults().streamBytes));
    }
  }

  // The device is gone: whatever is in flight completes as shut down.
  void Cut() {
    unplugged = true;
    for (auto* queue : {&waitingReply, &waitingStream}) {
      for (UMockdevIoctlData* urbd : *queue) {
        Urb(urbd)->status = -ESHUTDOWN;
        Urb(urbd)->actual_length = 0;
        completed.push_back(urbd);
      }
      queue->clear();
    }
  }

  void Control(UMockdevIoctlData* urbd) {
    std::uint8_t* buf = Buffer(urbd);
    if (!buf) {
      Complete(urbd, nullptr, 0);
      return;
    }
    const std::uint8_t requestType = buf[0], request = buf[1];
    const int value = buf[2] | buf[3] << 8;
    const int length = buf[6] | buf[7] << 8;
    std::vector<std::uint8_t> answer;
    if (requestType == 0x80 && request == 6 && value >> 8 == 3) {
      const int index = value & 0xFF;
      if (index == 0) answer = {4, 3, 0x09, 0x04};  // English (US)
      if (index == 1) answer = StringDescriptor("NPP");
      if (index == 2) answer = StringDescriptor("KD735");
      if (index == 3) answer = StringDescriptor(serial);
    }
    Complete(urbd, answer.data(), std::min<int>(length, int(answer.size())), 8);
  }

  gboolean OnIoctl(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* err = nullptr;
    std::lock_guard lock(mu);

    if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
      if (completed.empty()) {
        umockdev_ioctl_client_complete(client, -1, unplugged ? ENODEV : EAGAIN);
        return TRUE;
      }
      UMockdevIoctlData* urbd = completed.front();
      completed.pop_front();
      UMockdevIoctlData* ptr = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &err);
      umockdev_ioctl_data_set_ptr(ptr, 0, urbd);  // the client sees its own URB address
      g_object_unref(urbd);
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    if (unplugged) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return TRUE;
    }
    if (request == USBDEVFS_SUBMITURB) {
      UMockdevIoctlData* urbd = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
      if (!urbd) {
        g_clear_error(&err);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
      }
      g_object_ref(urbd);
      usbdevfs_urb* urb = Urb(urbd);
      if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
        Control(urbd);
      } else if (urb->endpoint == kCommandEndpoint) {
        Packet command{};
        if (std::uint8_t* buf = Buffer(urbd))
          std::copy_n(buf, std::min(kPacketSize, urb->buffer_length), command.begin());
        if (instrument->HandleCommand(command)) {
          urb->actual_length = urb->buffer_length;
          urb->status = 0;
        } else {
          urb->actual_length = 0;
          urb->status = -EPIPE;
        }
        completed.push_back(urbd);
        ServeReplies();
      } else if (urb->endpoint == kReplyEndpoint) {
        waitingReply.push_back(urbd);
        ServeReplies();
      } else if (urb->endpoint == kStreamEndpoint) {
        waitingStream.push_back(urbd);
        ServeStream();
      } else {
        g_object_unref(urbd);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    if (request == USBDEVFS_DISCARDURB) {
      const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
      for (auto* queue : {&waitingReply, &waitingStream}) {
        for (auto it = queue->begin(); it != queue->end(); ++it) {
          if ((*it)->client_addr != address) continue;
          Urb(*it)->status = -ENOENT;
          Urb(*it)->actual_length = 0;
          completed.push_back(*it);
          queue->erase(it);
          umockdev_ioctl_client_complete(client, 0, 0);
          return TRUE;
        }
      }
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      return TRUE;
    }
    if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE ||
        request == USBDEVFS_SETINTERFACE || request == USBDEVFS_CLEAR_HALT ||
        request == USBDEVFS_RESET) {
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    if (request == USBDEVFS_GETDRIVER || request == USBDEVFS_IOCTL) {
      umockdev_ioctl_client_complete(client, -1, ENODATA);
      return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }

  static gboolean Handle(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<MockDevice*>(self)->OnIoctl(client);
  }

  void DropUrbs() {
    for (auto* queue : {&waitingReply, &waitingStream, &completed}) {
      for (UMockdevIoctlData* urbd : *queue) g_object_unref(urbd);
      queue->clear();
    }
  }
};

struct UsbTestbed::Impl {
  UMockdevTestbed* bed = nullptr;
  std::map<int, std::unique_ptr<MockDevice>> devices;
  int nextDevnum = 2;

  MockDevice& Add(std::uint16_t vid, std::uint16_t pid, bool instrument) {
    auto device = std::make_unique<MockDevice>();
    const int n = device->devnum = nextDevnum++;
    char text[2048];
    std::snprintf(text, sizeof text,
                  "P: /devices/pci0000:00/usb1/1-%d\n"
                  "N: bus/usb/001/%03d\n"
                  "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
                  "E: DEVNAME=/dev/bus/usb/001/%03d\nE: BUSNUM=001\nE: DEVNUM=%03d\n"
                  "E: PRODUCT=%x/%x/100\nE: ID_VENDOR_ID=%04x\nE: ID_MODEL_ID=%04x\n"
                  "A: busnum=1\\n\nA: devnum=%d\\n\nA: speed=12\\n\nA: idVendor=%04x\\n\nA: "
                  "idProduct=%04x\\n\n"
                  "A: bConfigurationValue=1\nA: bNumConfigurations=1\nA: dev=189:%d\n"
                  "H: descriptors=%s\n",
                  n, n, n, n, vid, pid, vid, pid, n, vid, pid, n - 1,
                  Descriptors(vid, pid, instrument).c_str());
    GError* err = nullptr;
    if (!umockdev_testbed_add_from_string(bed, text, &err)) {
      std::fprintf(stderr, "umockdev: %s\n", err ? err->message : "add failed");
      g_clear_error(&err);
    }
    char path[128];
    std::snprintf(path, sizeof path, "/sys/devices/pci0000:00/usb1/1-%d", n);
    device->syspath = path;
    std::snprintf(path, sizeof path, "/dev/bus/usb/001/%03d", n);
    device->devnode = path;
    MockDevice& d = *device;
    devices[n] = std::move(device);
    return d;
  }

  void Detach(MockDevice& d) {
    if (!d.handler) return;
    umockdev_testbed_detach_ioctl(bed, d.devnode.c_str(), nullptr);
    g_object_unref(d.handler);
    d.handler = nullptr;
  }
};

UsbTestbed::UsbTestbed() : impl_(std::make_unique<Impl>()) { impl_->bed = umockdev_testbed_new(); }

UsbTestbed::~UsbTestbed() {
  for (auto& [n, d] : impl_->devices) {
    impl_->Detach(*d);
    std::lock_guard lock(d->mu);
    d->DropUrbs();
  }
  impl_->devices.clear();
  g_object_unref(impl_->bed);
}

bool UsbTestbed::Active() const { return umockdev_in_mock_environment(); }

int UsbTestbed::AddInstrument(const std::string& serial, std::uint32_t seed) {
  MockDevice& d = impl_->Add(0x0735, 0x0735, true);
  d.serial = serial;
  d.instrument = std::make_unique<sim::Instrument>(seed, serial);
  d.handler = umockdev_ioctl_base_new();
  g_signal_connect(d.handler, "handle-ioctl", G_CALLBACK(&MockDevice::Handle), &d);
  GError* err = nullptr;
  if (!umockdev_testbed_attach_ioctl(impl_->bed, d.devnode.c_str(), d.handler, &err)) {
    std::fprintf(stderr, "umockdev: %s\n", err ? err->message : "attach failed");
    g_clear_error(&err);
  }
  return d.devnum;
}

int UsbTestbed::AddDevice(std::uint16_t vendorId, std::uint16_t productId) {
  return impl_->Add(vendorId, productId, false).devnum;
}

void UsbTestbed::Unplug(int devnum) {
  const auto it = impl_->devices.find(devnum);
  if (it == impl_->devices.end()) return;
  MockDevice& d = *it->second;
  bool send = false;
  {
    std::lock_guard lock(d.mu);
    send = !d.ueventSent;
    d.ueventSent = true;
  }
  if (send) umockdev_testbed_uevent(impl_->bed, d.syspath.c_str(), "remove");
  std::lock_guard lock(d.mu);
  d.Cut();
}

void UsbTestbed::UnplugAfterReplies(int devnum, int replies) {
  const auto it = impl_->devices.find(devnum);
  if (it == impl_->devices.end()) return;
  std::lock_guard lock(it->second->mu);
  it->second->unplugAfterReplies = replies;
}

void UsbTestbed::Remove(int devnum) {
  const auto it = impl_->devices.find(devnum);
  if (it == impl_->devices.end()) return;
  umockdev_testbed_remove_device(impl_->bed, it->second->syspath.c_str());
}

int UsbTestbed::WaitingReplyReads(int devnum) {
  const auto it = impl_->devices.find(devnum);
  if (it == impl_->devices.end()) return 0;
  std::lock_guard lock(it->second->mu);
  return int(it->second->waitingReply.size());
}

void UsbTestbed::WithInstrument(int devnum, const std::function<void(sim::Instrument&)>& action) {
  const auto it = impl_->devices.find(devnum);
  if (it == impl_->devices.end() || !it->second->instrument) return;
  MockDevice& d = *it->second;
  std::lock_guard lock(d.mu);
  action(*d.instrument);
  d.ServeReplies();
  d.ServeStream();
}

}  // namespace kd735::test

#else  // no umockdev: every test that needs it skips

namespace kd735::test {
struct UsbTestbed::Impl {};
UsbTestbed::UsbTestbed() = default;
UsbTestbed::~UsbTestbed() = default;
bool UsbTestbed::Active() const { return false; }
int UsbTestbed::AddInstrument(const std::string&, std::uint32_t) { return 0; }
int UsbTestbed::AddDevice(std::uint16_t, std::uint16_t) { return 0; }
void UsbTestbed::Unplug(int) {}
void UsbTestbed::UnplugAfterReplies(int, int) {}
void UsbTestbed::Remove(int) {}
int UsbTestbed::WaitingReplyReads(int) { return 0; }
void UsbTestbed::WithInstrument(int, const std::function<void(sim::Instrument&)>&) {}
}  // namespace kd735::test

#endif
