#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "link/command_protocol.h"

namespace kd735 {

class LinkController;

// Which read button was pressed: decides the file kind, the list, the gauge and the texts.
enum class FileSide { kMeasure, kBscan };

// The kind of a message box.
enum class MessageKind { kError, kInformation };

// One file as read from the instrument, handed to the list that keeps it.
struct InstrumentFile {
  FileSide side = FileSide::kMeasure;
  int number = 0;  // 1-based position in the instrument's listing
  std::array<std::uint8_t, kFileRecordSize> bytes{};
  int packetsStored = 0;  // distinct packet numbers received, 128 for a whole file
  bool Complete() const { return packetsStored == kFileRecordSize / kFilePacketPayload; }
};

// A progress gauge as values.
struct GaugeState {
  int minimum = 0;
  int maximum = 999;
  int position = 0;
};

// Reads all files of one kind from the instrument through the link's command operations, on the
// UI thread, keeping the window alive by processing events between packets.
class InstrumentFileReader final : public QObject {
  Q_OBJECT

 public:
  struct Hooks {
    // Lets the window process pending events; QCoreApplication::processEvents when empty.
    std::function<void()> processEvents;
    // Shows a modal message box (the reading waits until it returns).
    std::function<void(MessageKind kind, const QString& text)> showMessage;
    // Destroys every entry of the side's list.
    std::function<void(FileSide side)> clearList;
    // Appends one entry to the side's list.
    std::function<void(const InstrumentFile& file)> appendFile;
  };

  static constexpr int kListingTries = 3;
  static constexpr int kMaxRepliesPerFile = 141;
  // The most files a listing reply may name: the instrument numbers its files with one byte, so
  // it holds no more than 256 of a kind (the list's three-digit numbers would allow 999). A
  // larger count is not believed: reading it would take hours for files that do not exist.
  static constexpr int kMaxListedFiles = 256;

  InstrumentFileReader(LinkController& link, Hooks hooks, QObject* parent = nullptr);

  // The read buttons: reads every file of the side's kind. Ignored while a reading runs.
  void Read(FileSide side);
  // The abort buttons: the running reading stops at its next check.
  void Abort() { readingAllowed_.store(false); }

  // While true the read buttons and the virtual panel are disabled.
  bool Busy() const { return busy_; }
  QString Label(FileSide side) const { return label_[Index(side)]; }
  GaugeState Gauge(FileSide side) const { return gauge_[Index(side)]; }

  static std::uint16_t FileKind(FileSide side);
  static QString CountText(FileSide side, int count);
  static QString NoFilesText(FileSide side);
  static QString ListingErrorText(FileSide side);
  static QString NoInstrumentText();
  static QString LinkFailureText();
  static QString AbortText();
  // The instrument, still connected, did not send file `number` (1-based) of `count`.
  static QString FileMissingText(int number, int count);

 Q_SIGNALS:
  // Busy state, a label or a gauge changed.
  void stateChanged();

 private:
  enum class Exit { kDone, kLinkFailure, kAbort, kFileMissing };

  static std::size_t Index(FileSide side) { return side == FileSide::kMeasure ? 0 : 1; }
  Exit ReadAll(FileSide side);
  Exit ReadOneFile(FileSide side, int index);
  Exit ReplyFailure();
  void ProcessEvents();
  void SetBusy(bool busy);
  void SetLabel(FileSide side, const QString& text);
  void SetGauge(FileSide side, GaugeState gauge);

  LinkController& link_;
  Hooks hooks_;
  bool busy_ = false;
  // Set by the reading, cleared by the abort buttons (both on the UI thread; atomic so that an
  // abort may also come from elsewhere).
  std::atomic<bool> readingAllowed_{false};
  std::array<QString, 2> label_;
  std::array<GaugeState, 2> gauge_;
  InstrumentFile file_;  // the file being assembled
  int count_ = 0;        // files named by the listing of the running reading
};

}  // namespace kd735
