#include <unistd.h>

#include <QLocale>
#include <algorithm>
#include <vector>

#include "files/local_file.h"
#include "files/survey.h"
#include "files/survey_export.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

// Marks the rows below the minimum in the text table; red on a terminal that shows colours.
struct Marks {
  bool shown = false;  // a minimum is set: every row gets its mark column
  bool colour = false;
};

bool TerminalShowsColour() {
  const QByteArray term = qgetenv("TERM");
  return ::isatty(STDOUT_FILENO) && qEnvironmentVariableIsEmpty("NO_COLOR") && !term.isEmpty() &&
         term != "dumb";
}

// An aligned table for a person: numbers to the right, texts to the left, two blanks between.
QString TextTable(const SurveyTable& table, const Marks& marks) {
  const int columns = table.ColumnCount();
  std::vector<QStringList> lines;
  QStringList header;
  for (const SurveyColumn column : table.columns) header << SurveyColumnTitle(column);
  lines.push_back(header);
  for (int row = 0; row < table.RowCount(); ++row) {
    QStringList cells;
    for (int c = 0; c < columns; ++c) cells << VisibleText(table.Cell(row, c).text);
    lines.push_back(cells);
  }
  std::vector<qsizetype> widths(std::size_t(columns), 0);
  for (const QStringList& cells : lines)
    for (int c = 0; c < columns; ++c)
      widths[std::size_t(c)] = std::max(widths[std::size_t(c)], cells[c].size());

  QString text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool below = i > 0 && table.rows[i - 1].belowMinimum;
    QString line;
    if (marks.shown) line += below ? QStringLiteral("! ") : QStringLiteral("  ");
    for (int c = 0; c < columns; ++c) {
      const qsizetype width = widths[std::size_t(c)];
      if (c) line += QStringLiteral("  ");
      line += IsNumericColumn(table.columns[c]) ? lines[i][c].rightJustified(width)
                                                : lines[i][c].leftJustified(width);
    }
    while (line.endsWith(u' ')) line.chop(1);
    if (below && marks.colour) line = QStringLiteral("\x1B[31m") + line + QStringLiteral("\x1B[0m");
    text += line + u'\n';
  }
  return text;
}

QString TextSummary(const SurveyTable& table) {
  const QList<SurveySummaryLine> summary = SurveySummary(table);
  qsizetype width = 0;
  for (const SurveySummaryLine& line : summary) width = std::max(width, line.label.size() + 1);
  QString text;
  for (const SurveySummaryLine& line : summary)
    text += (line.label + u':').leftJustified(width + 1) + line.value + u'\n';
  return text;
}

}  // namespace

void DefineTable(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("format"),
                    QStringLiteral("text (an aligned table and the statistics, the default), csv "
                                   "(RFC 4180, a header row above) or json."),
                    QStringLiteral("text|csv|json"), QStringLiteral("text")});
  parser.addOption({QStringLiteral("min"),
                    QStringLiteral("The minimum allowed thickness in mm (at most two decimals): "
                                   "readings below it are marked and listed."),
                    QStringLiteral("MM")});
  parser.addOption({QStringLiteral("separator"),
                    QStringLiteral("The CSV field separator (one character). By default ';' where "
                                   "the locale writes a decimal comma, else ','."),
                    QStringLiteral("C")});
  parser.addOption(
      {QStringLiteral("bom"), QStringLiteral("Start the CSV with a UTF-8 byte order mark.")});
  parser.addPositionalArgument(
      QStringLiteral("FILE"),
      QStringLiteral("Local measurement and B-scan files, in the order of the table; each kind "
                     "makes a table of its own."),
      QStringLiteral("FILE..."));
}

int Table(const QCommandLineParser& parser, const GlobalOptions&) {
  const QString format = parser.value(QStringLiteral("format"));
  if (format != QLatin1String("text") && format != QLatin1String("csv") &&
      format != QLatin1String("json"))
    return UsageError(QStringLiteral("--format is text, csv or json (got '%1')").arg(format));
  const bool csv = format == QLatin1String("csv");
  std::optional<std::int64_t> minimum;
  if (parser.isSet(QStringLiteral("min"))) {
    const QString text = parser.value(QStringLiteral("min"));
    minimum = ParseThicknessMm(text);
    if (!minimum)
      return UsageError(
          QStringLiteral("--min must be a thickness in mm with at most two decimals (got '%1')")
              .arg(text));
  }
  const QLocale locale = QLocale::system();  // numbers as the records' texts show them
  QChar separator = DefaultCsvSeparator(locale);
  for (const char* option : {"separator", "bom"}) {
    if (parser.isSet(QLatin1String(option)) && !csv)
      return UsageError(QStringLiteral("--%1 is for --format csv").arg(QLatin1String(option)));
  }
  if (parser.isSet(QStringLiteral("separator"))) {
    const QString text = parser.value(QStringLiteral("separator"));
    if (text.size() != 1 || !IsUsableCsvSeparator(text[0]))
      return UsageError(
          QStringLiteral("--separator is one character, not a quote or a line break (got '%1')")
              .arg(text));
    separator = text[0];
  }
  const QStringList files = parser.positionalArguments();
  if (files.isEmpty()) return UsageError(QStringLiteral("no FILE given"));

  // Every file is read before anything is printed: a bad one leaves no half table.
  std::vector<LoadedFile> loaded;
  std::vector<SurveyEntry> measures, bscans;
  loaded.reserve(std::size_t(files.size()));
  for (const QString& file : files) {
    LoadedFile one = LoadLocalFile(file);
    if (!one.ok()) return Fail(one.reason.isEmpty() ? one.error : one.reason);
    const std::uint8_t kind = one.content->record[field::kFileKind];
    if (kind != kMeasureKind && kind != kBscanKind)
      return Fail(QStringLiteral("%1: neither a measurement nor a B-scan file (%2)")
                      .arg(file, KindHeadingText(kind)));
    loaded.push_back(std::move(one));
  }
  for (std::size_t i = 0; i < loaded.size(); ++i) {
    const SurveyEntry entry{loaded[i].entryText, loaded[i].content.get(), files[qsizetype(i)]};
    (loaded[i].content->record[field::kFileKind] == kMeasureKind ? measures : bscans)
        .push_back(entry);
  }
  const SurveyTable measureTable = MakeSurveyTable(SurveyKind::Measure, measures, minimum, locale);
  const SurveyTable bscanTable = MakeSurveyTable(SurveyKind::Bscan, bscans, std::nullopt, locale);
  const bool both = !measures.empty() && !bscans.empty();

  if (format == QLatin1String("json")) {
    PrintData(SurveyJson(measureTable, bscanTable));
  } else if (csv) {
    QByteArray out = parser.isSet(QStringLiteral("bom")) ? QByteArray(kUtf8Bom) : QByteArray();
    if (!measures.empty()) out += SurveyCsv(measureTable, separator);
    if (both) out += "\r\n";  // two tables, one empty line between
    if (!bscans.empty()) out += SurveyCsv(bscanTable, separator);
    PrintData(out);
  } else {
    const Marks marks{minimum.has_value(), TerminalShowsColour()};
    QString out;
    if (!measures.empty()) {
      // The lists' own titles, when two tables need telling apart.
      if (both) out += QStringLiteral("ИЗМЕРЕНИЯ\n");
      out += TextTable(measureTable, marks) + u'\n' + TextSummary(measureTable);
    }
    if (both) out += QStringLiteral("\nВ-СКАНЫ\n");
    if (!bscans.empty()) out += TextTable(bscanTable, {});
    PrintData(out.toUtf8());
  }
  return 0;
}

}  // namespace kd735::cli
