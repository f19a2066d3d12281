#pragma once

#include <memory>

#include "link/usb_bus.h"

namespace kd735 {

// The real USB bus through libusb-1.0. Every device is listed (hardware ids built from its
// descriptor, so the link can pick the instruments, vendor 0x0735 product 0x0735); an
// instrument's location text is its product and serial strings ("KD735 N 00123").
//
// Both channels of one device share one open handle with the interface claimed once; the
// command channel (UI thread) and the stream channel (reader thread) may transfer at the same
// time. A private thread handles libusb's events and delivers the device-change callback; hotplug
// is used where libusb has it, otherwise the device list is compared once a second. Once a
// device has gone (unplugged, or libusb reported it missing) every transfer on it fails at once.
class LibusbBus : public UsbBus {
 public:
  // How arrivals and removals are noticed: libusb hotplug where the platform has it, else a
  // comparison of the device list once a second; kPolling forces the comparison.
  enum class DeviceWatch { kHotplugWhereAvailable, kPolling };

  explicit LibusbBus(DeviceWatch watch = DeviceWatch::kHotplugWhereAvailable);
  ~LibusbBus() override;
  LibusbBus(const LibusbBus&) = delete;
  LibusbBus& operator=(const LibusbBus&) = delete;

  // False when libusb could not be initialised; the bus then lists nothing and opens nothing.
  bool IsReady() const;
  bool HasHotplug() const;

  std::vector<TUSBPnPInfo> ListDevices() override;
  std::unique_ptr<CommandChannel> OpenCommandChannel(const QString& devPath) override;
  std::unique_ptr<StreamChannel> OpenStreamChannel(const QString& devPath) override;
  // Returns only when no call of the previous callback is running any more; the callback must
  // therefore not wait for the thread that replaces it.
  void SetDeviceChangeCallback(std::function<void()> callback) override;
  OpenError LastOpenError() const override;

  struct Context;

 private:
  std::shared_ptr<Context> context_;
};

}  // namespace kd735
