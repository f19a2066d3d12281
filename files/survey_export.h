#pragma once

#include <QByteArray>
#include <QChar>
#include <QLocale>

#include "files/survey.h"

// A survey as files for other programs: CSV for spreadsheets, JSON for scripts.
namespace kd735 {

// The byte order mark some spreadsheet programs want before UTF-8 CSV.
inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// The CSV field separator that fits the locale: ';' where the decimal separator is a comma (the
// numbers then hold commas), else ','.
QChar DefaultCsvSeparator(const QLocale& locale);

// True for a character that can separate CSV fields: one that is neither a quote nor a line break.
bool IsUsableCsvSeparator(QChar separator);

// The table as CSV after RFC 4180, UTF-8 without a byte order mark: a header row of the column
// titles, then one record per row, every line ended by CRLF. A field holding the separator, a
// quote or a line break is quoted with its quotes doubled. Numbers are the cells' texts (the
// locale's decimal separator); an entry's text is kept as it is, line breaks included, but other
// control characters become U+FFFD so that the file cannot act on a terminal.
QByteArray SurveyCsv(const SurveyTable& table, QChar separator);

// One JSON document (UTF-8): {"measurements": [...], "bscans": [...], "statistics": {...}} with
// the statistics of the measurement table. A row's "file" is where it came from (its entry's
// text when that is not known), "name" the entry's text, "number" its running number. Numbers
// are JSON numbers: the record's scaled fields exactly with their decimals (12.30), never
// integers where the value is a fraction of a unit; what does not exist is null.
QByteArray SurveyJson(const SurveyTable& measurements, const SurveyTable& bscans);

}  // namespace kd735
