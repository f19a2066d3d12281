#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/pnp_info.h"
#include "link/transfer_record.h"

namespace kd735 {

// The command channel: one blocking transfer at a time on the command (0x01) or reply (0x83)
// endpoint named in the record's header. Used on the UI thread only.
class CommandChannel {
 public:
  virtual ~CommandChannel() = default;

  // Moves the record's 64 data bytes (out for 0x01, in for 0x83) and waits at most timeoutMs.
  // True when the transfer completed; bytesReturned then holds the bytes moved, which for a short
  // reply is fewer than 64.
  virtual bool Transfer(TransferRecord& record, int timeoutMs, std::uint32_t& bytesReturned) = 0;
};

// The stream channel: one overlapped transfer at a time on the stream endpoint (0x82).
// Used by the stream reader's thread, except Cancel, which the link calls after the reader ended.
class StreamChannel {
 public:
  enum class Outcome { kCompleted, kFailed, kTimedOut };

  virtual ~StreamChannel() = default;

  // Sets the endpoint's transfer size and waits at most timeoutMs; true on success.
  virtual bool SetTransferSize(TransferSizeRecord& record, int timeoutMs) = 0;

  // Starts one transfer into the record's data bytes. The record must stay alive and untouched
  // until Wait reports kCompleted or kFailed, or Abort returns. False when it could not start.
  virtual bool Submit(TransferRecord& record) = 0;

  // Waits at most timeoutMs for the submitted transfer. kCompleted: the data bytes are filled and
  // bytesReturned holds the count (fewer than 64: a short transfer, which is no packet; only its
  // first bytesReturned data bytes came). kTimedOut: the transfer is still in flight. kFailed (also
  // with nothing submitted, or the device gone): nothing was received; returns at once.
  virtual Outcome Wait(int timeoutMs, std::uint32_t& bytesReturned) = 0;

  // Cancels a transfer still in flight and returns only once the record is free again.
  virtual void Abort() = 0;

  // Cancels all outstanding I/O of the channel; false when the channel is not usable.
  virtual bool Cancel() = 0;
};

// Why the last attempt to open a device failed.
enum class OpenError {
  kNone,
  kNotFound,      // no such device path (any more)
  kAccessDenied,  // the platform refused access: on Linux the udev rules are not installed
  kBusy,          // another program holds the device
  kOther,
};

// One way of reaching instruments: libusb on a real bus, or the simulated instrument.
class UsbBus {
 public:
  virtual ~UsbBus() = default;

  // Every present device the bus can describe, in the platform's order; choosing the instruments
  // among them (by hardware id) is the caller's work.
  virtual std::vector<TUSBPnPInfo> ListDevices() = 0;

  // nullptr when the device path cannot be opened.
  virtual std::unique_ptr<CommandChannel> OpenCommandChannel(const QString& devPath) = 0;
  virtual std::unique_ptr<StreamChannel> OpenStreamChannel(const QString& devPath) = 0;

  // Called after each arrival or removal of a device, on any thread; the link moves the
  // notification to the UI thread itself. An empty function switches notification off.
  virtual void SetDeviceChangeCallback(std::function<void()> callback) = 0;

  // The reason of the last failed open (also of a failed look at a device's strings while
  // listing); kNone after a successful one.
  virtual OpenError LastOpenError() const { return OpenError::kNone; }
};

}  // namespace kd735
