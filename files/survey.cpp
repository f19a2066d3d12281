#include "files/survey.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace kd735 {

namespace {

constexpr auto kNoValue = u"—";

void Put(SurveyRow& row, SurveyColumn column, QString text,
         std::optional<double> value = std::nullopt) {
  row.cells[std::size_t(column)] = {std::move(text), value};
}

SurveyRow MakeRow(SurveyKind kind, const SurveyEntry& entry, int number, const QLocale& locale) {
  SurveyRow row;
  row.number = number;
  row.entryText = entry.text;
  row.source = entry.source;
  row.hasRecord = entry.content != nullptr;
  Put(row, SurveyColumn::Number, QString::number(number), number);
  Put(row, SurveyColumn::File, entry.text);
  if (!entry.content) return row;

  const RecordView r = entry.content->record;
  Put(row, SurveyColumn::Date, RecordText(r, field::kDateTimeText, field::kDateTimeTextWidth));
  Put(row, SurveyColumn::Probe, RecordText(r, field::kProbeType, field::kProbeTypeWidth));
  Put(row, SurveyColumn::Frequency, ProbeFrequencyText(ReadUInt32BE(r, field::kProbeFrequency)));
  Put(row, SurveyColumn::Instrument,
      RecordText(r, field::kDeviceNumber, field::kDeviceNumberWidth));

  if (kind == SurveyKind::Measure) {
    row.state = ReadUInt32BE(r, field::kMeasureState);
    // State 0: the record holds no valid thickness, whatever the field says.
    if (row.state != 0) {
      row.thickness = ReadInt32BE(r, field::kThickness);
      Put(row, SurveyColumn::Thickness, ThicknessText(*row.thickness, locale),
          *row.thickness / 100.0);
    }
    Put(row, SurveyColumn::State, MeasureStateText(row.state));
    Put(row, SurveyColumn::ProbeNumber,
        RecordText(r, field::kProbeNumber, field::kProbeNumberWidth));
    row.velocity = ReadUInt32BE(r, field::kVelocityCL);
    row.probeDelay = ReadUInt32BE(r, field::kProbeDelayTpep);
    Put(row, SurveyColumn::Velocity,
        FormatNumber(QStringLiteral("###0.00"), row.velocity / 100.0, locale),
        row.velocity / 100.0);
    Put(row, SurveyColumn::ProbeDelay,
        FormatNumber(QStringLiteral("###0.0000"), row.probeDelay / 10000.0, locale),
        row.probeDelay / 10000.0);
  } else {
    row.length = ReadUInt32BE(r, field::kBscanLength);
    row.rangeMin = ReadInt32BE(r, field::kThicknessMin);
    row.rangeMax = ReadInt32BE(r, field::kThicknessMax);
    Put(row, SurveyColumn::Length, FormatNumber(QStringLiteral("###0"), row.length, locale),
        row.length);
    Put(row, SurveyColumn::Speed, BscanSpeedText(ReadUInt32BE(r, field::kBscanSpeed)));
    Put(row, SurveyColumn::RangeMin, ThicknessText(row.rangeMin, locale), row.rangeMin / 100.0);
    Put(row, SurveyColumn::RangeMax, ThicknessText(row.rangeMax, locale), row.rangeMax / 100.0);
  }
  return row;
}

SurveyStatistics Statistics(std::vector<SurveyRow>& rows,
                            std::optional<std::int64_t> minimumAllowed) {
  SurveyStatistics s;
  s.entries = int(rows.size());
  s.minimumAllowed = minimumAllowed;
  for (int i = 0; i < int(rows.size()); ++i) {
    SurveyRow& row = rows[std::size_t(i)];
    if (!row.thickness) continue;
    const std::int64_t h = *row.thickness;
    // Strict comparisons: on a tie the first entry is named.
    if (s.readings == 0 || h < s.min) {
      s.min = h;
      s.minRow = i;
    }
    if (s.readings == 0 || h > s.max) {
      s.max = h;
      s.maxRow = i;
    }
    s.sum += h;
    ++s.readings;
    if (minimumAllowed && h < *minimumAllowed) {
      row.belowMinimum = true;
      s.belowRows << i;
    }
  }
  if (s.readings >= 2) {
    const double mean = s.Mean();
    double squares = 0;
    for (const SurveyRow& row : rows)
      if (row.thickness) squares += (*row.thickness - mean) * (*row.thickness - mean);
    s.stddev = std::sqrt(squares / (s.readings - 1));
  }
  return s;
}

QString EntryName(const SurveyTable& table, int row) {
  return VisibleText(table.rows[std::size_t(row)].entryText);
}

}  // namespace

QList<SurveyColumn> SurveyColumns(SurveyKind kind) {
  using C = SurveyColumn;
  if (kind == SurveyKind::Measure)
    return {C::Number,      C::File,      C::Date,     C::Thickness,  C::State,     C::Probe,
            C::ProbeNumber, C::Frequency, C::Velocity, C::ProbeDelay, C::Instrument};
  return {C::Number,   C::File,     C::Date,  C::Length,    C::Speed,
          C::RangeMin, C::RangeMax, C::Probe, C::Frequency, C::Instrument};
}

QString SurveyColumnTitle(SurveyColumn column) {
  switch (column) {
    case SurveyColumn::Number:
      return QStringLiteral("№");
    case SurveyColumn::File:
      return QStringLiteral("Файл");
    case SurveyColumn::Date:
      return QStringLiteral("Дата");
    case SurveyColumn::Thickness:
      return QStringLiteral("H, мм");
    case SurveyColumn::State:
      return QStringLiteral("Состояние");
    case SurveyColumn::Probe:
      return QStringLiteral("ПЭП");
    case SurveyColumn::ProbeNumber:
      return QStringLiteral("№ ПЭП");
    case SurveyColumn::Frequency:
      return QStringLiteral("Частота");
    case SurveyColumn::Velocity:
      return QStringLiteral("CL, м/с");
    case SurveyColumn::ProbeDelay:
      return QStringLiteral("Tpep, мкс");
    case SurveyColumn::Instrument:
      return QStringLiteral("Прибор");
    case SurveyColumn::Length:
      return QStringLiteral("Lck, мм");
    case SurveyColumn::Speed:
      return QStringLiteral("Скорость");
    case SurveyColumn::RangeMin:
      return QStringLiteral("Hmin, мм");
    case SurveyColumn::RangeMax:
      return QStringLiteral("Hmax, мм");
  }
  return {};
}

bool IsNumericColumn(SurveyColumn column) {
  switch (column) {
    case SurveyColumn::Number:
    case SurveyColumn::Thickness:
    case SurveyColumn::Velocity:
    case SurveyColumn::ProbeDelay:
    case SurveyColumn::Length:
    case SurveyColumn::RangeMin:
    case SurveyColumn::RangeMax:
      return true;
    default:
      return false;
  }
}

std::int64_t SurveyStatistics::RoundedMean() const {
  if (readings == 0) return 0;
  std::int64_t q = sum / readings;
  const std::int64_t r = sum % readings;
  if (2 * (r < 0 ? -r : r) >= readings) q += sum < 0 ? -1 : 1;
  return q;
}

SurveyTable MakeSurveyTable(SurveyKind kind, std::span<const SurveyEntry> entries,
                            std::optional<std::int64_t> minimumAllowed, const QLocale& locale) {
  SurveyTable table;
  table.kind = kind;
  table.locale = locale;
  table.columns = SurveyColumns(kind);
  table.rows.reserve(entries.size());
  for (const SurveyEntry& entry : entries)
    table.rows.push_back(MakeRow(kind, entry, int(table.rows.size()) + 1, locale));
  if (kind == SurveyKind::Measure) {
    table.statistics = Statistics(table.rows, minimumAllowed);
  } else {
    table.statistics.entries = table.RowCount();
  }
  return table;
}

QString ThicknessText(std::int64_t hundredths, const QLocale& locale) {
  // Exact hundredths print exactly: the nearest double is far closer than half a hundredth.
  return FormatNumber(QStringLiteral("###0.00"), double(hundredths) / 100.0, locale);
}

std::optional<std::int64_t> ParseThicknessMm(const QString& text) {
  static const QRegularExpression kThickness(QStringLiteral("^(\\d{1,8})(?:[.,](\\d{1,2}))?$"));
  const QRegularExpressionMatch m = kThickness.match(text.trimmed());
  if (!m.hasMatch()) return std::nullopt;
  std::int64_t hundredths = m.captured(1).toLongLong() * 100;
  const QString decimals = m.captured(2);
  if (!decimals.isEmpty()) hundredths += decimals.toLongLong() * (decimals.size() == 1 ? 10 : 1);
  if (hundredths > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return hundredths;
}

QList<SurveySummaryLine> SurveySummary(const SurveyTable& table) {
  const SurveyStatistics& s = table.statistics;
  const QLocale& locale = table.locale;
  const QString mm = QStringLiteral(" мм");
  const QString none = QString::fromUtf16(kNoValue);
  const bool any = s.readings > 0;
  auto withEntry = [&](std::int64_t value, int row) {
    return ThicknessText(value, locale) + mm + QStringLiteral(" (") + EntryName(table, row) +
           QLatin1Char(')');
  };
  QList<SurveySummaryLine> lines = {
      {QStringLiteral("Файлов"), QString::number(s.entries)},
      {QStringLiteral("Измерений"), QString::number(s.readings)},
      {QStringLiteral("Минимальная толщина"), any ? withEntry(s.min, s.minRow) : none},
      {QStringLiteral("Максимальная толщина"), any ? withEntry(s.max, s.maxRow) : none},
      {QStringLiteral("Средняя толщина"), any ? ThicknessText(s.RoundedMean(), locale) + mm : none},
      {QStringLiteral("Стандартное отклонение"),
       s.stddev ? FormatNumber(QStringLiteral("###0.00"), *s.stddev / 100.0, locale) + mm : none},
      {QStringLiteral("Размах"), any ? ThicknessText(s.Range(), locale) + mm : none},
  };
  if (s.minimumAllowed) {
    lines.append({QStringLiteral("Минимально допустимая толщина"),
                  ThicknessText(*s.minimumAllowed, locale) + mm});
    QStringList names;
    for (const int row : s.belowRows) names << EntryName(table, row);
    QString below = QString::number(s.belowRows.size());
    if (!names.isEmpty()) below += QStringLiteral(" (") + names.join(QStringLiteral("; ")) + ')';
    lines.append({QStringLiteral("Ниже допустимой"), below});
  }
  return lines;
}

}  // namespace kd735
