#include "files/survey_export.h"

#include <QList>
#include <algorithm>
#include <utility>

namespace kd735 {

QChar DefaultCsvSeparator(const QLocale& locale) {
  return locale.decimalPoint() == QLatin1String(",") ? QLatin1Char(';') : QLatin1Char(',');
}

bool IsUsableCsvSeparator(QChar separator) {
  return separator != u'"' && separator != u'\r' && separator != u'\n' && !separator.isNull();
}

namespace {

QString CsvField(QString text, QChar separator) {
  bool quote = false;
  for (QChar& c : text) {
    if (c == separator || c == u'"' || c == u'\r' || c == u'\n')
      quote = true;
    else if (IsControlCharacter(c) && c != u'\t')
      c = QChar::ReplacementCharacter;
  }
  if (!quote) return text;
  text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
  return QLatin1Char('"') + text + QLatin1Char('"');
}

// JSON values are written by hand: Qt's writer sorts the keys and prints 12.00 as the integer 12.
QByteArray JsonString(const QString& text) {
  const bool plain = std::none_of(text.begin(), text.end(), [](QChar c) {
    return c == u'"' || c == u'\\' || IsControlCharacter(c);
  });
  if (plain) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray quoted;
    quoted.reserve(utf8.size() + 2);
    return quoted.append('"').append(utf8).append('"');
  }
  QString out;
  out.reserve(text.size() + 2);
  out += u'"';
  for (const QChar c : text) {
    switch (c.unicode()) {
      case u'"':
        out += QStringLiteral("\\\"");
        break;
      case u'\\':
        out += QStringLiteral("\\\\");
        break;
      case u'\n':
        out += QStringLiteral("\\n");
        break;
      case u'\r':
        out += QStringLiteral("\\r");
        break;
      case u'\t':
        out += QStringLiteral("\\t");
        break;
      default:
        // Control characters are escaped, so that the document cannot act on a terminal.
        if (IsControlCharacter(c))
          out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
          out += c;
    }
  }
  out += u'"';
  return out.toUtf8();
}

// A scaled integer as a decimal number with exactly `decimals` places: (-150, 2) -> -1.50.
QByteArray JsonFixed(std::int64_t value, int decimals) {
  std::int64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const std::int64_t magnitude = value < 0 ? -value : value;
  QByteArray text = value < 0 ? "-" : "";
  text += QByteArray::number(magnitude / scale);
  if (decimals > 0)
    text += '.' + QByteArray::number(magnitude % scale).rightJustified(decimals, '0');
  return text;
}

QByteArray JsonReal(double value) {
  QByteArray text = QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
  if (!text.contains('.') && !text.contains('e')) text += ".0";
  return text;
}

QByteArray JsonInt(std::int64_t value) { return QByteArray::number(value); }

const QByteArray kNull = "null";

using Members = QList<std::pair<const char*, QByteArray>>;

// An object on one line: a row.
QByteArray JsonLine(const Members& members) {
  QByteArray out;
  out.reserve(512);
  out.append('{');
  for (qsizetype i = 0; i < members.size(); ++i) {
    if (i) out.append(", ");
    out.append('"').append(members[i].first).append("\": ").append(members[i].second);
  }
  return out.append('}');
}

QByteArray JsonObject(const Members& members, const QByteArray& indent) {
  QByteArray out = "{\n";
  for (qsizetype i = 0; i < members.size(); ++i) {
    out += indent + "  \"" + members[i].first + "\": " + members[i].second;
    out += i + 1 < members.size() ? ",\n" : "\n";
  }
  return out + indent + '}';
}

QByteArray JsonArray(const QList<QByteArray>& items, const QByteArray& indent) {
  if (items.isEmpty()) return "[]";
  qsizetype size = 0;
  for (const QByteArray& item : items) size += indent.size() + item.size() + 4;
  QByteArray out;
  out.reserve(size + indent.size() + 3);
  out.append("[\n");
  for (qsizetype i = 0; i < items.size(); ++i) {
    out.append(indent).append("  ").append(items[i]);
    out.append(i + 1 < items.size() ? ",\n" : "\n");
  }
  return out.append(indent).append(']');
}

QByteArray RowFile(const SurveyRow& row) {
  return JsonString(row.source.isEmpty() ? row.entryText : row.source);
}

QByteArray TextOrNull(const SurveyRow& row, SurveyColumn column) {
  return row.hasRecord ? JsonString(row.Cell(column).text) : kNull;
}

QByteArray MeasureRow(const SurveyRow& row) {
  const bool r = row.hasRecord;
  return JsonLine({
      {"file", RowFile(row)},
      {"name", JsonString(row.entryText)},
      {"number", JsonInt(row.number)},
      {"date", TextOrNull(row, SurveyColumn::Date)},
      {"thickness_mm", row.thickness ? JsonFixed(*row.thickness, 2) : kNull},
      {"state", r ? JsonInt(row.state) : kNull},
      {"state_text", TextOrNull(row, SurveyColumn::State)},
      {"probe", TextOrNull(row, SurveyColumn::Probe)},
      {"probe_number", TextOrNull(row, SurveyColumn::ProbeNumber)},
      {"frequency_text", TextOrNull(row, SurveyColumn::Frequency)},
      {"velocity_m_s", r ? JsonFixed(row.velocity, 2) : kNull},
      {"probe_delay_us", r ? JsonFixed(row.probeDelay, 4) : kNull},
      {"instrument", TextOrNull(row, SurveyColumn::Instrument)},
  });
}

QByteArray BscanRow(const SurveyRow& row) {
  const bool r = row.hasRecord;
  return JsonLine({
      {"file", RowFile(row)},
      {"name", JsonString(row.entryText)},
      {"number", JsonInt(row.number)},
      {"date", TextOrNull(row, SurveyColumn::Date)},
      {"length_mm", r ? JsonInt(row.length) : kNull},
      {"speed_text", TextOrNull(row, SurveyColumn::Speed)},
      {"range_min_mm", r ? JsonFixed(row.rangeMin, 2) : kNull},
      {"range_max_mm", r ? JsonFixed(row.rangeMax, 2) : kNull},
      {"probe", TextOrNull(row, SurveyColumn::Probe)},
      {"frequency_text", TextOrNull(row, SurveyColumn::Frequency)},
      {"instrument", TextOrNull(row, SurveyColumn::Instrument)},
  });
}

QByteArray StatisticsObject(const SurveyTable& table) {
  const SurveyStatistics& s = table.statistics;
  const bool any = s.readings > 0;
  auto file = [&](int row) { return any ? RowFile(table.rows[std::size_t(row)]) : kNull; };
  QByteArray below = kNull;
  if (s.minimumAllowed) {
    QList<QByteArray> files;
    for (const int row : s.belowRows) files << RowFile(table.rows[std::size_t(row)]);
    below = JsonArray(files, "    ");
  }
  return JsonObject(
      {
          {"entries", JsonInt(s.entries)},
          {"readings", JsonInt(s.readings)},
          {"min_mm", any ? JsonFixed(s.min, 2) : kNull},
          {"min_file", file(s.minRow)},
          {"max_mm", any ? JsonFixed(s.max, 2) : kNull},
          {"max_file", file(s.maxRow)},
          {"mean_mm", any ? JsonReal(s.Mean() / 100.0) : kNull},
          {"stddev_mm", s.stddev ? JsonReal(*s.stddev / 100.0) : kNull},
          {"range_mm", any ? JsonFixed(s.Range(), 2) : kNull},
          {"minimum_allowed_mm", s.minimumAllowed ? JsonFixed(*s.minimumAllowed, 2) : kNull},
          {"below_minimum", below},
      },
      "  ");
}

}  // namespace

QByteArray SurveyCsv(const SurveyTable& table, QChar separator) {
  QString out;
  const QString crlf = QStringLiteral("\r\n");
  QStringList fields;
  for (const SurveyColumn column : table.columns)
    fields << CsvField(SurveyColumnTitle(column), separator);
  out += fields.join(separator) + crlf;
  for (const SurveyRow& row : table.rows) {
    fields.clear();
    for (const SurveyColumn column : table.columns)
      fields << CsvField(row.Cell(column).text, separator);
    out += fields.join(separator) + crlf;
  }
  return out.toUtf8();
}

QByteArray SurveyJson(const SurveyTable& measurements, const SurveyTable& bscans) {
  QList<QByteArray> measureRows, bscanRows;
  measureRows.reserve(qsizetype(measurements.rows.size()));
  for (const SurveyRow& row : measurements.rows) measureRows << MeasureRow(row);
  bscanRows.reserve(qsizetype(bscans.rows.size()));
  for (const SurveyRow& row : bscans.rows) bscanRows << BscanRow(row);
  return JsonObject(
             {
                 {"measurements", JsonArray(measureRows, "  ")},
                 {"bscans", JsonArray(bscanRows, "  ")},
                 {"statistics", StatisticsObject(measurements)},
             },
             "")
      .append('\n');
}

}  // namespace kd735
