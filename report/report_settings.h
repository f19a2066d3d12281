#pragma once

#include <QFont>
#include <QString>

#include "files/integer_range.h"

// The report options as one plain value. Every program start begins with these defaults; nothing
// is stored. Integer options keep to their ranges (see ReadIntegerField and Clamped).
namespace kd735 {

inline constexpr IntegerRange kDocumentNumberRange{0, 1000000};
inline constexpr int kDocumentNumberMaxChars = 7;  // the field takes up to seven typed characters
inline constexpr IntegerRange kFontSizeRange{2, 40};
inline constexpr IntegerRange kTablePositionRange{1, 9};

// Font of the block text in the report.
struct BlockFont {
  QString name = QStringLiteral("Times New Roman");  // used as typed, never checked
  int size = 10;                                     // points, kFontSizeRange
  bool bold = false;
  bool italic = false;

  bool operator==(const BlockFont&) const = default;
};

// The block font taken from a font chooser's result: face name, point size pulled into 2..40,
// bold exactly when the weight is bold or heavier, italic exactly when italic. Other attributes
// (underline, strike-out, colour) are ignored.
BlockFont BlockFontFromChoice(const QFont& chosen);

// Content of measurement blocks.
struct MeasureBlockSettings {
  int tablePosition = 1;        // receiving table, kTablePositionRange
  bool invertPicture = true;    // "Инверсия цвета в картинке"
  bool instrumentLine = false;  // "Вставить  тип, номер прибора"
  bool fileNameLine = true;     // "Имя файла и номер"
  bool dateLine = true;         // "Дата, время измерения"
  bool stateLine = true;        // "Состояние измерения"
  bool sweepLines = false;      // "Параметры развертки (А-скан)": four lines
  bool scaleLines = false;      // "Параметры шкалы (CL, Tpep)": four lines
  bool probeLines = false;  // "Информация о ПЭП (тип, номер)": three lines

  bool operator==(const MeasureBlockSettings&) const = default;
};

// Content of B-scan blocks.
struct BscanBlockSettings {
  int tablePosition = 2;        // receiving table, kTablePositionRange
  bool invertPicture = true;    // "Инверсия цвета в картинке"
  bool instrumentLine = false;  // "Вставить  тип, номер прибора"
  bool fileNameLine = true;     // "Имя файла и номер"
  bool dateLine = true;         // "Дата, время В-скана"
  bool speedLine = true;        // "Скорость записи В-скана"
  bool sweepLines = false;      // "Параметры развертки (А-скан)": four lines
  bool scaleLines = false;      // "Параметры шкалы (CL, Tpep)": four lines
  bool probeLines = false;  // "Информация о ПЭП (тип, номер)": three lines

  bool operator==(const BscanBlockSettings&) const = default;
};

struct ReportSettings {
  // General settings of a new document.
  int documentNumber = 0;       // number of the next document, kDocumentNumberRange
  bool incrementNumber = true;  // "Увеличивать номер на +1"
  bool insertNumber = true;  // "Вставить номер документа " -> variable NUMBER
  bool insertDate = true;    // "Вставить дату в документ" -> variable TIMEDATA
  bool insertDeviceNumber = true;  // "Вставить номер прибора" -> variable DEVNUM
  BlockFont font;
  MeasureBlockSettings measure;
  BscanBlockSettings bscan;

  // A copy with every integer option pulled into its range.
  ReportSettings Clamped() const;

  bool operator==(const ReportSettings&) const = default;
};

// Every optional line group of both block kinds switched on (or off); the rest left as given.
ReportSettings WithAllOptionalLines(ReportSettings settings, bool on);

// Where the engines keep reports by default: the user's documents folder followed by "KD735".
QString DefaultReportsFolder();

}  // namespace kd735
