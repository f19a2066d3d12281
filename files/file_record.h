#pragma once

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "link/command_protocol.h"

// The instrument file record: the fixed 4096-byte image of one settings, measurement or B-scan
// file, its field layout, and the texts made from its fields for the viewer and the Word report.
// Every reader takes a field at its fixed offset whatever the kind says and checks nothing for
// plausibility; all readers stay inside the record whatever the bytes hold.
namespace kd735 {

// Only the first 2133 bytes carry anything; local files hold exactly these.
inline constexpr int kStoredRecordSize = 2133;

// Kind codes of the record's first byte (measurement and B-scan are also the protocol's file
// types).
inline constexpr std::uint8_t kSettingsFileKind = 0xC3;
inline constexpr std::uint8_t kMeasureKind = std::uint8_t(kMeasureFileKind);  // 0xD6
inline constexpr std::uint8_t kBscanKind = std::uint8_t(kBscanFileKind);      // 0xE9

// Field offsets (numbers are 32-bit big-endian; texts are fixed-width Windows-1251 fields).
namespace field {
inline constexpr int kFileKind = 0;
inline constexpr int kFileNumber = 1;
inline constexpr int kFileName = 2, kFileNameWidth = 9;
inline constexpr int kDateTimeText = 11, kDateTimeTextWidth = 17;
inline constexpr int kDeviceNumber = 28, kDeviceNumberWidth = 11;
inline constexpr int kProbeType = 39, kProbeTypeWidth = 17;
inline constexpr int kProbeNumber = 56, kProbeNumberWidth = 11;
inline constexpr int kProbeFrequency = 67;
inline constexpr int kSweepDelay = 79;
inline constexpr int kSweepWidth = 83;
inline constexpr int kVelocityCL = 145;      // hundredths of m/s
inline constexpr int kProbeDelayTpep = 149;  // ten-thousandths of a microsecond
inline constexpr int kMeasureState = 157;
inline constexpr int kThickness = 161;    // signed, hundredths of a millimetre
inline constexpr int kBscanLength = 165;  // millimetres
inline constexpr int kBscanSpeed = 169;
inline constexpr int kThicknessMin = 173;  // signed, hundredths of a millimetre
inline constexpr int kThicknessMax = 177;  // signed, hundredths of a millimetre
inline constexpr int kPictureData = 1109;  // 128 columns x 8 bytes
}  // namespace field

using FileRecord = std::array<std::uint8_t, kFileRecordSize>;
// Read-only view of a whole record; a FileRecord or a 4096-byte buffer converts to it.
using RecordView = std::span<const std::uint8_t, kFileRecordSize>;

// One record held by one file-list entry. A new object is zero-filled.
class TKD735FileContent {
 public:
  FileRecord record{};
};

// A new object holding a copy of the given 4096 bytes (a file read from the instrument).
std::unique_ptr<TKD735FileContent> CreateFileContent(RecordView bytes);

// The 32-bit big-endian number at offset; 0 when the four bytes do not lie inside the record.
std::uint32_t ReadUInt32BE(RecordView record, int offset);
std::int32_t ReadInt32BE(RecordView record, int offset);

// The text of a fixed-width field: the bytes up to the first zero byte or the field end (never
// beyond it, nor beyond the record), decoded from Windows-1251, with VisibleText applied.
QString RecordText(RecordView record, int offset, int width);

// Decodes Windows-1251 bytes as they stand (zero bytes included). The one byte the code page
// leaves undefined, 0x98, gives U+FFFD instead of a C1 control character.
QString DecodeWindows1251(std::span<const std::uint8_t> bytes);
// One Windows-1251 byte from the built-in table.
QChar Windows1251Char(std::uint8_t byte);

// The one rule for texts that come from a record: a control character (C0 U+0000..U+001F, DEL
// U+007F, C1 U+0080..U+009F) shows as U+FFFD. An escape sequence, a bell or a line break from an
// instrument file could otherwise act on a terminal or break a one-line list entry; every field
// text below has it applied, so the lists, the viewer, the report and the tool all show the same.
QString VisibleText(QString text);
bool IsControlCharacter(QChar c);

// The name part of a list entry read from the instrument: the 8 bytes at offsets 2..9 taken as
// characters whatever they hold, then " N000" with the file number ("TEST0001 N005"). A zero byte
// among the eight shows as a blank, so the entry keeps its width; other control characters
// follow VisibleText.
QString FileListName(RecordView record, const QLocale& locale = QLocale::system());

// Code tables: any code outside a table gives the table's last text.
QString KindHeadingText(std::uint8_t kind);  // "Файл ИЗМЕРЕНИЯ", ..., "Неизвестный Файл"
bool IsKnownKind(std::uint8_t kind);  // settings, measurement or B-scan
QString ProbeFrequencyText(std::uint32_t code);
QString MeasureStateText(std::uint32_t code);
QString BscanSpeedText(std::uint32_t code);

// Number-pattern formatting. The pattern is literal text around one number field of '#', '0' and
// at most one '.': '0' is a digit always printed, '#' one printed only when significant, the
// integer part is never cut, each '0' after the '.' is a decimal always printed, the '.' prints as
// the locale's decimal separator. A negative value gets its minus sign as the very first
// character, ahead of the literal text. Everything else is copied unchanged.
// Examples (Russian locale): ("H = ###0.00 мм", -1.5) -> "-H = 1,50 мм"; (" N000", 5) -> " N005".
QString FormatNumber(const QString& pattern, double value,
                     const QLocale& locale = QLocale::system());

// Field texts, exactly as the viewer and the Word report show them. Numbers follow the locale.
QString InstrumentLine(RecordView record);    // "КД735  " + device number
QString DateLine(RecordView record);          // "Дата " + date and time
QString NameAndNumberText(RecordView record,  // name (9 bytes) + " N000"
                          const QLocale& locale = QLocale::system());
QString ThicknessLine(RecordView record, const QLocale& locale = QLocale::system());
QString StateLine(RecordView record);  // "Состояние - " + state text
QString ScanLengthLine(RecordView record, const QLocale& locale = QLocale::system());
QString SpeedLine(RecordView record);  // "Скорость записи В-скана - " ...
QString RangeHeading();
QString RangeLowerLine(RecordView record, const QLocale& locale = QLocale::system());
QString RangeUpperLine(RecordView record, const QLocale& locale = QLocale::system());
QString SweepHeading();
QString DelayLine(RecordView record);  // "Сдвиг  <n> мкс", unsigned
QString WidthLine(RecordView record);  // "Ширина <n> мкс", unsigned
QString ScaleHeading();
QString VelocityLine(RecordView record, const QLocale& locale = QLocale::system());
QString ProbeDelayLine(RecordView record, const QLocale& locale = QLocale::system());
QString ProbeHeading();
QString ProbeLine(RecordView record);      // type + "   N " + number
QString FrequencyLine(RecordView record);  // "Частота " + frequency text

}  // namespace kd735
