#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

#include "link/device_discovery.h"
#include "link/stream_reader.h"
#include "link/transfer_record.h"
#include "link/usb_bus.h"

namespace kd735 {

// The one owner of the link to the instrument: follows plug and unplug, runs the screen-stream
// reader, hosts the command operations, keeps the numbered event log and the three status texts
// (link state, byte rate, frame rate). Display-free; lives on the UI thread.
class LinkController final : public QObject {
  Q_OBJECT

 public:
  using FrameHandler = std::function<void(const Packet& streamPacket)>;

  // The status-bar panels the link writes.
  enum StatusPanel { kLinkPanel = 0, kByteRatePanel = 1, kFrameRatePanel = 2 };

  static constexpr int kCommandWaitMs = 1000;
  static constexpr int kReplyWaitMs = 500;
  static constexpr int kStreamWaitMs = 500;
  static constexpr int kLogLimit = 500;

  // frameHandler runs on this object's thread once per stream cycle with the reader's packet.
  LinkController(UsbBus& bus, FrameHandler frameHandler, QObject* parent = nullptr);
  ~LinkController() override;

  // What creating the link window does: empty the log, log a blank line and run the first
  // connection attempt; from then on device changes of the bus are followed.
  void Start();
  // Stops the reader (no log lines), stops following the bus and closes both channels.
  void Shutdown();

  // The event log.
  void LogEvent(const QString& text);
  const QStringList& Log() const { return log_; }
  int LogCounter() const { return logCounter_; }
  void ClearLog();  // "Очистить": the counter goes on
  // "Свойства": the selected instrument's properties. The virtual program first adds its software
  // identification lines when an instrument is selected.
  void ShowProperties(bool withSoftwareIdentification = false);
  void AddUnnumberedLine(const QString& line);

  // The reaction to a device-change notification with its event code (7: devices changed).
  void HandleDeviceChange(std::uint32_t code);

  // Reader control.
  void StartStream(const QString& devPath);
  void StopStream();
  void SuspendStream();
  void ResumeStream();
  TUSB_Thread* CurrentReader() const { return reader_.get(); }

  // Command operations (one transfer at a time, UI thread).
  bool OpenCommandChannel(const QString& devPath);
  bool SendCommand(std::uint16_t command, std::uint16_t data);
  // True when the transfer succeeded. Only a whole 64-byte packet fills the reply buffer; a
  // shorter transfer leaves it zeroed (every reply word 0).
  bool ReadReply();
  // Sends a prepared command packet without logging (for commands with their own log line);
  // true when the transfer succeeded, bytesReturned then holds the count the channel reports.
  bool TransferCommandPacket(const Packet& data, std::uint32_t& bytesReturned);
  std::uint16_t ReplyWord(int n) const;
  bool ReplyMatches(std::uint16_t w0, std::uint16_t w1, std::uint16_t w2) const;
  Packet LastReply() const { return replyBuffer_.DataPacket(); }

  // The instrument list: LocationInfo of each instrument and the selected item (-1: none).
  const QStringList& Instruments() const { return instruments_; }
  int SelectedInstrument() const { return selected_; }
  void SelectInstrument(int index);  // only changes what "Свойства" shows
  const DeviceList& Devices() const { return devices_; }
  const QString& LinkDevicePath() const { return linkDevicePath_; }

  QString StatusText(StatusPanel panel) const { return status_[panel]; }
  bool TimerActive() const { return timer_.isActive(); }

  // The once-a-second rate display (the timer calls it; public for the window and tests).
  void TimerTimer();

  // " 000 000 байт/c" and "  00.0 кадр/c" of a byte count.
  static QString ByteRateText(std::int64_t bytes);
  static QString FrameRateText(std::int64_t bytes);

  UsbBus& Bus() { return bus_; }

 Q_SIGNALS:
  void lineAdded(const QString& line);
  void logCleared();
  void statusTextChanged(int panel, const QString& text);
  void instrumentsChanged();

 private:
  void SetStatus(StatusPanel panel, const QString& text);
  // Explains a refused open: the udev rules missing, or the device claimed by another process.
  void ReportOpenRefusal();

  UsbBus& bus_;
  FrameHandler frameHandler_;
  DeviceList devices_;
  QStringList instruments_;
  int selected_ = -1;
  QString linkDevicePath_;
  std::unique_ptr<CommandChannel> commandChannel_;
  TransferRecord replyBuffer_ = MakeTransferRecord(kReplyEndpoint);
  // Shared so that a stop waiting for the reader keeps it alive if something run from inside
  // the stop (a shutdown, a new stream) lets go of it.
  std::shared_ptr<TUSB_Thread> reader_;
  QTimer timer_;
  QStringList log_;
  int logCounter_ = 0;
  std::array<QString, 3> status_;
  // A device change that arrives while one is handled runs after it.
  bool inDeviceChange_ = false;
  bool deviceChangePending_ = false;
  bool shutDown_ = false;
};

}  // namespace kd735
