#pragma once

// An emulated USB bus for the libusb backend's tests: umockdev devices whose usbdevfs requests
// are answered by the simulated instrument's model. Standard C++ only in this header, so that the
// Qt-based tests and the glib-based implementation never meet in one translation unit.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/instrument.h"

namespace kd735::test {

class UsbTestbed {
 public:
  // Creates the testbed; do this before libusb is initialised, or libusb sees no device events.
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // False when the program does not run under umockdev's preload (or umockdev is missing).
  bool Active() const;

  // Adds an instrument on bus 1 (vendor and product 0x0735, bulk endpoints 0x01, 0x83, 0x82,
  // product "KD735", manufacturer "NPP", the given serial) and returns its device number.
  int AddInstrument(const std::string& serial, std::uint32_t seed = 1);
  // Adds a device that is no instrument; nothing answers its requests.
  int AddDevice(std::uint16_t vendorId, std::uint16_t productId);

  // Unplugs a device: a "remove" uevent, then every later request fails with ENODEV and the
  // requests in flight complete as shut down (as the kernel does). Calling it again only sends
  // a missing uevent.
  void Unplug(int devnum);
  // Makes the device fail with ENODEV right after it has delivered so many more reply packets;
  // Unplug() later sends the uevent.
  void UnplugAfterReplies(int devnum, int replies);
  // Removes an unplugged device from the emulated sysfs.
  void Remove(int devnum);

  // Reply reads (URBs on 0x83) the device holds, waiting for a reply.
  int WaitingReplyReads(int devnum);

  // Runs the action on the device's instrument under the device's lock.
  void WithInstrument(int devnum, const std::function<void(sim::Instrument&)>& action);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kd735::test
