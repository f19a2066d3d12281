#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "files/file_record.h"

// A survey: the numbers of a list of instrument files as one table, one row per entry, and the
// statistics of the thickness readings of a measurement list. Texts are those of the record code
// (FormatNumber with the locale's decimal separator, record texts under the visible-text rule);
// every number also comes as a value, so a table can sort by it. Thicknesses are kept in
// hundredths of a millimetre, as the record holds them, so the statistics are exact.
namespace kd735 {

enum class SurveyKind { Measure, Bscan };

// Every column of either table; a table shows the ones SurveyColumns gives for its kind.
enum class SurveyColumn {
  Number,       // "№": the running number of the entry, from 1
  File,         // "Файл": the list entry's text
  Date,         // "Дата"
  Thickness,    // "H, мм": empty without a valid reading (state 0)
  State,        // "Состояние"
  Probe,        // "ПЭП"
  ProbeNumber,  // "№ ПЭП"
  Frequency,    // "Частота"
  Velocity,     // "CL, м/с"
  ProbeDelay,   // "Tpep, мкс"
  Instrument,   // "Прибор"
  Length,       // "Lck, мм"
  Speed,        // "Скорость"
  RangeMin,     // "Hmin, мм"
  RangeMax,     // "Hmax, мм"
};
inline constexpr int kSurveyColumnCount = 15;

// The columns of a table of the kind, in order.
QList<SurveyColumn> SurveyColumns(SurveyKind kind);
QString SurveyColumnTitle(SurveyColumn column);
// A column of numbers (right-aligned, sorted by value).
bool IsNumericColumn(SurveyColumn column);

// One input row: a list entry. The record is read while the table is made and not kept.
struct SurveyEntry {
  QString text;                                // the list entry's text
  const TKD735FileContent* content = nullptr;  // null: an entry without data (texts stay empty)
  QString source;                              // where it came from (a path), may be empty
};

struct SurveyCell {
  QString text;
  std::optional<double> value;  // the number shown, for sorting; none for texts and empty cells
};

struct SurveyRow {
  int number = 0;     // from 1
  QString entryText;  // as given: a display applies VisibleText
  QString source;
  bool hasRecord = false;
  std::array<SurveyCell, kSurveyColumnCount> cells;  // indexed by SurveyColumn

  // The numbers as the record holds them.
  std::optional<std::int32_t> thickness;  // hundredths of a mm; none without a valid reading
  std::uint32_t state = 0;
  std::uint32_t velocity = 0;               // hundredths of m/s
  std::uint32_t probeDelay = 0;             // ten-thousandths of a microsecond
  std::uint32_t length = 0;                 // mm
  std::int32_t rangeMin = 0, rangeMax = 0;  // hundredths of a mm

  // A valid reading under the minimum allowed thickness.
  bool belowMinimum = false;

  const SurveyCell& Cell(SurveyColumn column) const { return cells[std::size_t(column)]; }
};

// The statistics of a measurement list's readings (rows with a valid thickness). Thicknesses in
// hundredths of a millimetre; negative ones count like any other value.
struct SurveyStatistics {
  int entries = 0;
  int readings = 0;
  std::int64_t min = 0, max = 0;  // valid when readings > 0
  int minRow = -1, maxRow = -1;   // index of the first row holding the minimum or maximum
  std::int64_t sum = 0;
  std::optional<double> stddev;  // sample deviation (n - 1), in hundredths; none below 2 readings
  std::optional<std::int64_t> minimumAllowed;  // hundredths; readings below it are listed
  QList<int> belowRows;                        // indexes of those rows, in order

  std::int64_t Range() const { return max - min; }
  double Mean() const { return readings ? double(sum) / readings : 0.0; }  // hundredths
  // The mean rounded to hundredths, halves away from zero (exact, from the integer sum).
  std::int64_t RoundedMean() const;
};

// One table of either kind, made once from the entries; a Qt item model can serve it as it is
// (rows, Cell(row, column) with text and value, a row's belowMinimum flag).
struct SurveyTable {
  SurveyKind kind = SurveyKind::Measure;
  QList<SurveyColumn> columns;
  std::vector<SurveyRow> rows;
  SurveyStatistics statistics;  // of a measurement table; entries only for B-scans
  QLocale locale;

  int RowCount() const { return int(rows.size()); }
  int ColumnCount() const { return int(columns.size()); }
  const SurveyCell& Cell(int row, int column) const {
    return rows[std::size_t(row)].Cell(columns[column]);
  }
};

// Makes the table. `minimumAllowed` (hundredths of a mm) marks the readings below it.
SurveyTable MakeSurveyTable(SurveyKind kind, std::span<const SurveyEntry> entries,
                            std::optional<std::int64_t> minimumAllowed = std::nullopt,
                            const QLocale& locale = QLocale::system());

// A thickness in hundredths of a mm as the records show it: two decimals, the locale's separator.
QString ThicknessText(std::int64_t hundredths, const QLocale& locale = QLocale::system());

// A thickness typed by a user, in mm: digits with at most two decimals after '.' or ',', not
// negative, at most 21474836.47 (the largest a record holds). None for anything else.
std::optional<std::int64_t> ParseThicknessMm(const QString& text);

// The statistics as label and value texts, in the order a summary shows them: "Файлов",
// "Измерений", "Минимальная толщина", "Максимальная толщина" (each with its entry), "Средняя
// толщина", "Стандартное отклонение", "Размах", and with a minimum set "Минимально допустимая
// толщина" and "Ниже допустимой" (count and entries). A value that does not exist is "—".
struct SurveySummaryLine {
  QString label;
  QString value;
  bool operator==(const SurveySummaryLine&) const = default;
};
QList<SurveySummaryLine> SurveySummary(const SurveyTable& table);

}  // namespace kd735
