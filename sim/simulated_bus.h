#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/usb_bus.h"
#include "sim/instrument.h"

namespace kd735::sim {

// A bus in the same process on which simulated instruments (and foreign devices) are attached
// and detached at run time. The link finds them through UsbBus exactly as it finds real ones.
//
// Threads: the stream reader uses a stream channel while the UI thread uses a command channel and
// attaches or detaches devices; every public call may come from any thread. The device-change
// callback runs on the thread that attached or detached the device, after the bus's lock has
// been released.
class SimulatedBus : public UsbBus {
 public:
  struct Options {
    // Added to every transaction; about 1 ms gives the tools a live stream of ~30 frames a second.
    int latencyMs = 0;
    // A transfer that cannot complete (no reply waiting, stalled stream) waits its time-out, but at
    // most this long; -1 waits the full time-out. Tests set 0 to fail such transfers at once.
    int timeoutCapMs = -1;
    // True: the instruments' clocks follow the steady clock. False: only AdvanceClock moves them.
    bool realClock = false;
  };

  SimulatedBus();
  explicit SimulatedBus(Options options);
  ~SimulatedBus() override;
  SimulatedBus(const SimulatedBus&) = delete;
  SimulatedBus& operator=(const SimulatedBus&) = delete;

  // Plugs in an instrument and returns its device path. An empty device number gives "00123"
  // for the first instrument, "00124" for the second, and so on; the location text is
  // "KD735 N <number>".
  QString AttachInstrument(std::uint32_t seed = 1, const QString& deviceNumber = QString());
  // Plugs in a device that is not an instrument (hardware id "USB\VID_vvvv&PID_pppp").
  QString AttachForeignDevice(std::uint16_t vendorId, std::uint16_t productId);
  // Unplugs a device: its open channels fail at once from now on. False if it was not attached.
  bool Detach(const QString& devPath);
  // Unplugs the device right after it has delivered so many more reply packets (a fault).
  void UnplugAfterReplies(const QString& devPath, int replies);

  // While on, opening a channel fails with OpenError::kAccessDenied (as without the udev rules).
  void DenyAccess(bool deny);
  // While on, opening a channel fails with OpenError::kBusy (another process holds the device).
  void ClaimElsewhere(bool claimed);

  // Runs the action on the device's instrument under the bus's lock; false when no instrument
  // with that path is attached.
  bool WithInstrument(const QString& devPath, const std::function<void(Instrument&)>& action);
  // Moves every attached instrument's clock forward (when realClock is off).
  void AdvanceClock(std::int64_t ms);
  QStringList AttachedPaths() const;

  std::vector<TUSBPnPInfo> ListDevices() override;
  std::unique_ptr<CommandChannel> OpenCommandChannel(const QString& devPath) override;
  std::unique_ptr<StreamChannel> OpenStreamChannel(const QString& devPath) override;
  void SetDeviceChangeCallback(std::function<void()> callback) override;
  OpenError LastOpenError() const override;

  struct State;

 private:
  void NotifyChange();
  std::shared_ptr<State> state_;
};

}  // namespace kd735::sim
