#pragma once

// The simulated KD735: its side of every exchange, independent of any transport. This header and
// screen_bitmap.h use the standard library only, so that test harnesses built on C libraries
// (glib, umockdev) can drive the model without Qt.

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link/transfer_record.h"
#include "sim/screen_bitmap.h"

namespace kd735::sim {

inline constexpr int kRecordSize = 4096;
using FileRecord = std::array<std::uint8_t, kRecordSize>;

inline constexpr std::uint8_t kMeasureKind = 0xD6;
inline constexpr std::uint8_t kBscanKind = 0xE9;

// Misbehaviour switched on by tests. Every field is off by default.
struct InstrumentFaults {
  bool noAnswer = false;            // commands are taken, but no reply is ever queued
  bool rejectCommands = false;      // command transfers fail
  int wrongListingEchoes = 0;       // so many next listing replies carry a wrong word 0
  std::vector<int> missingPackets;  // packet numbers left out of every file
  // Before each of these packet numbers a file packet of another file (the next index) and one of
  // the other kind are sent, both with the same packet number and foreign data.
  std::vector<int> foreignBefore;
  // Before each of these packet numbers a file packet numbered 128 + n (outside the record).
  std::vector<int> oversizedBefore;
  bool stallStream = false;  // the stream endpoint delivers nothing
  // The transports deliver only so many bytes of each reply or stream packet (a short transfer);
  // the rest of the packet never comes.
  int replyBytes = kPacketSize;
  int streamBytes = kPacketSize;
  // The listing reply names this many files, whatever the store holds (-1: the files held).
  int listedCount = -1;
};

// The instrument's own state as tests see it.
enum class Page { kMeasure, kMenu, kFiles, kSetup, kBscan };

// A deterministic model of the instrument. Everything it does follows from the seed, the commands
// it is given and the time it is told; it never reads a clock. Not thread-safe: the owner locks.
class Instrument {
 public:
  explicit Instrument(std::uint32_t seed = 1, std::string deviceNumber = "00123");

  // One packet received on the command endpoint. False: the transfer is refused (a fault).
  bool HandleCommand(const Packet& command);

  // The next packet for the reply endpoint; false when none is waiting.
  bool TakeReply(Packet& reply);
  std::size_t PendingReplies() const { return replies_.size(); }

  // The stream endpoint: false while the stream is stalled, otherwise the next packet.
  bool StreamReady() const { return !faults_.stallStream; }
  Packet NextStreamPacket();
  // A filler packet (byte 2 = 0x55) follows every so many whole passes; 0 sends none.
  void SetFillerEveryPasses(int passes) { fillerEvery_ = passes; }

  // The model's clock in milliseconds; it only moves forward.
  void AdvanceTime(std::int64_t ms);
  void SetTime(std::int64_t ms);
  std::int64_t Now() const { return now_; }

  // The screen as it would be drawn now.
  ScreenBitmap Screen() const;

  InstrumentFaults& Faults() { return faults_; }

  // The file store, in listing order, per kind (0xD6 or 0xE9); other kinds hold nothing.
  std::vector<FileRecord>& Files(std::uint8_t kind);
  const std::string& DeviceNumber() const { return deviceNumber_; }

  // State for tests and diagnostics.
  Page CurrentPage() const { return page_; }
  int MenuIndex() const { return menuIndex_; }
  int ThicknessHundredths() const { return thickness_; }
  int FrequencyCode() const { return frequency_; }
  bool KeysLocked() const { return keysLocked_; }
  bool Connected() const { return connected_; }
  int Restarts() const { return restarts_; }
  bool MessageShown() const { return now_ < messageUntil_; }
  // The shown message as Windows-1251 bytes.
  const std::string& MessageText() const { return message_; }
  std::int64_t MessageUntil() const { return messageUntil_; }

 private:
  void PressKey(std::uint16_t keyBits);
  void QueueFile(std::uint16_t index);
  void ResetUi();

  std::uint32_t seed_;
  std::string deviceNumber_;
  InstrumentFaults faults_;
  std::deque<Packet> replies_;
  std::vector<FileRecord> measureFiles_;
  std::vector<FileRecord> bscanFiles_;
  std::vector<FileRecord> noFiles_;
  std::uint8_t listedKind_ = kMeasureKind;

  // Stream position: the frame of a pass is taken when its column-0 packet is made.
  ScreenBitmap passFrame_;
  int nextColumn_ = 0;
  int passes_ = 0;
  int fillerEvery_ = 4;
  bool fillerDue_ = false;
  std::uint8_t streamCounter_ = 0;

  std::int64_t now_ = 0;
  Page page_ = Page::kMeasure;
  int menuIndex_ = 0;
  int thickness_ = 0;
  int frequency_ = 2;
  bool keysLocked_ = false;
  bool connected_ = false;
  int restarts_ = 0;
  std::string message_;
  std::int64_t messageUntil_ = 0;
};

// Builders of realistic records, used by the instrument's default store and by tests.
struct MeasureFileSpec {
  std::uint8_t number = 1;
  std::string name = "TEST0001";  // Windows-1251, up to 9 bytes
  std::string dateTime;           // up to 16 bytes
  std::string deviceNumber = "00123";
  std::string probeType;  // Windows-1251
  std::string probeNumber = "0457";
  std::uint32_t frequencyCode = 2;
  std::uint32_t sweepDelay = 2, sweepWidth = 20;
  std::uint32_t velocityCL = 592000;    // hundredths of m/s
  std::uint32_t probeDelayTpep = 5120;  // ten-thousandths of a microsecond
  std::uint32_t state = 2;
  std::int32_t thickness = 1234;  // hundredths of a millimetre
};
struct BscanFileSpec {
  MeasureFileSpec common;
  std::uint32_t length = 250;  // mm
  std::uint32_t speed = 1;
  std::int32_t thicknessMin = 100, thicknessMax = 2500;
  std::vector<std::int32_t> profile;  // thickness along the scan, hundredths of a millimetre
};
FileRecord MakeMeasureRecord(const MeasureFileSpec& fields);
FileRecord MakeBscanRecord(const BscanFileSpec& fields);

// The default probe type text, "П112-5-10/2", in Windows-1251.
std::string DefaultProbeType();

}  // namespace kd735::sim
