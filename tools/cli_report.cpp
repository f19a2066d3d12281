#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "files/atomic_file.h"
#include "files/data_paths.h"
#include "files/local_file.h"
#include "files/survey.h"
#include "report/docx_engine.h"
#include "report/word_backend.h"
#include "report/word_report.h"
#include "report/writer_engine.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

// Messages go to stderr, one line each; the window's status lines (which name Word and the
// working copy, not --out) are not shown. The window's boxes keep their fixed texts; here the
// error that caused a failure has already been printed, naming the file, and the closing guess
// about Word, which the tool never uses, is left out.
class ConsoleFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage& message) override {
    if (message.text == report_text::WordOpenErrorMessage()) return;
    if (message.text == report_text::NoInstrumentMessage()) {
      Note(message.text + QStringLiteral("\r(give --devnum TEXT to fill it)"));
      return;
    }
    if (message.kind == MessageBoxKind::Information)
      Note(message.text);
    else
      Fail(message.text);
  }
  void SetStatusText(const QString&) override {}
};

// What is wrong with the template path beyond its absence (which the report's own message
// covers), naming the file; empty when it can be read as far as the tool can tell.
QString TemplateProblem(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR
               ? QString()
               : QDir::toNativeSeparators(path) + QStringLiteral(": ") +
                     QString::fromLocal8Bit(std::strerror(errno));
  if (S_ISDIR(st.st_mode))
    return QDir::toNativeSeparators(path) + QStringLiteral(": is a directory");
  if (!S_ISREG(st.st_mode))
    return QDir::toNativeSeparators(path) +
           QStringLiteral(": not a regular file (a pipe, device or socket holds no template)");
  return {};
}

}  // namespace

void DefineReport(QCommandLineParser& parser) {
  auto value = [&](const QString& name, const QString& help, const QString& valueName) {
    parser.addOption({name, help, valueName});
  };
  auto flag = [&](const QString& name, const QString& help) { parser.addOption({name, help}); };
  value(QStringLiteral("template"),
        QStringLiteral("The report template (.docx); by default the installed Sample_KD735.docx."),
        QStringLiteral("T"));
  value(QStringLiteral("out"), QStringLiteral("The report to write: .docx or .pdf by its ending."),
        QStringLiteral("FILE"));
  value(QStringLiteral("number"),
        QStringLiteral("The document number to start from (%1 to %2, default 0).")
            .arg(kDocumentNumberRange.minimum)
            .arg(kDocumentNumberRange.maximum),
        QStringLiteral("N"));
  flag(QStringLiteral("no-increment"),
       QStringLiteral("Give the report the number N itself, not N + 1."));
  flag(QStringLiteral("no-number"), QStringLiteral("Leave the document number out."));
  flag(QStringLiteral("no-date"), QStringLiteral("Leave the date out."));
  value(QStringLiteral("devnum"),
        QStringLiteral("The instrument number to put in (by default the attached instrument's)."),
        QStringLiteral("TEXT"));
  value(QStringLiteral("font"), QStringLiteral("The font of the blocks' text."),
        QStringLiteral("NAME"));
  value(QStringLiteral("size"),
        QStringLiteral("Its size in points (%1 to %2).")
            .arg(kFontSizeRange.minimum)
            .arg(kFontSizeRange.maximum),
        QStringLiteral("N"));
  flag(QStringLiteral("bold"), QStringLiteral("Bold text."));
  flag(QStringLiteral("italic"), QStringLiteral("Italic text."));
  for (const char* kind : {"measure", "bscan"}) {
    value(QStringLiteral("%1-table").arg(QLatin1String(kind)),
          QStringLiteral("The template's table that takes the %1 blocks (%2 to %3).")
              .arg(QLatin1String(kind) == QLatin1String("measure") ? "measurement" : "B-scan")
              .arg(kTablePositionRange.minimum)
              .arg(kTablePositionRange.maximum),
          QStringLiteral("N"));
  }
  flag(QStringLiteral("no-invert"), QStringLiteral("Draw the blocks' pictures in normal colours."));
  flag(QStringLiteral("all-lines"), QStringLiteral("Take every optional line of the blocks."));
  flag(QStringLiteral("no-optional-lines"),
       QStringLiteral("Leave out every optional line of the blocks."));
  value(QStringLiteral("measure"),
        QStringLiteral("Measurement files to send as blocks: every argument up to the next "
                       "option."),
        QStringLiteral("FILE..."));
  value(QStringLiteral("bscan"),
        QStringLiteral("B-scan files to send as blocks: every argument up to the next option."),
        QStringLiteral("FILE..."));
  flag(QStringLiteral("writer"),
       QStringLiteral("Make the report in LibreOffice Writer (a private headless instance)."));
  flag(QStringLiteral("summary"),
       QStringLiteral("Append the statistics of the measurement files after the blocks."));
  value(QStringLiteral("min"),
        QStringLiteral("With --summary: the minimum allowed thickness in mm (at most two "
                       "decimals); the readings below it are counted and named."),
        QStringLiteral("MM"));
}

QStringList PrepareReport(const QStringList& args) {
  // "--measure A B --bscan C" as Qt's parser takes it: "--measure A --measure B --bscan C".
  QStringList prepared;
  QString list;  // the option whose files follow
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == QLatin1String("--")) {
      prepared << args.mid(i);
      break;
    }
    if (a == QLatin1String("--measure") || a == QLatin1String("--bscan")) {
      list = a;
    } else if (!list.isEmpty() && (!a.startsWith(u'-') || a == QLatin1String("-"))) {
      prepared << list << a;
    } else {
      list.clear();
      prepared << a;
    }
  }
  return prepared;
}

int Report(const QCommandLineParser& parser, const GlobalOptions&) {
  QString templatePath = parser.value(QStringLiteral("template"));
  const QString out = parser.value(QStringLiteral("out"));
  std::optional<QString> devnum;
  if (parser.isSet(QStringLiteral("devnum"))) devnum = parser.value(QStringLiteral("devnum"));
  ReportSettings settings;
  const QStringList measureFiles = parser.values(QStringLiteral("measure")),
                    bscanFiles = parser.values(QStringLiteral("bscan"));
  const bool writer = parser.isSet(QStringLiteral("writer"));

  if (!parser.positionalArguments().isEmpty())
    return UsageError(
        QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
  // A numeric option out of its range is refused, never pulled into it silently.
  const struct {
    const char* name;
    IntegerRange range;
    int* target;
  } numbers[] = {
      {"number", kDocumentNumberRange, &settings.documentNumber},
      {"size", kFontSizeRange, &settings.font.size},
      {"measure-table", kTablePositionRange, &settings.measure.tablePosition},
      {"bscan-table", kTablePositionRange, &settings.bscan.tablePosition},
  };
  for (const auto& n : numbers) {
    const QString name = QLatin1String(n.name);
    QString error;
    if (parser.isSet(name) &&
        !ReadIntegerOption(QStringLiteral("--") + name, parser.value(name), n.range.minimum,
                           n.range.maximum, n.target, &error))
      return UsageError(error);
  }
  settings.incrementNumber = !parser.isSet(QStringLiteral("no-increment"));
  settings.insertNumber = !parser.isSet(QStringLiteral("no-number"));
  settings.insertDate = !parser.isSet(QStringLiteral("no-date"));
  if (parser.isSet(QStringLiteral("font")))
    settings.font.name = parser.value(QStringLiteral("font"));
  settings.font.bold = parser.isSet(QStringLiteral("bold"));
  settings.font.italic = parser.isSet(QStringLiteral("italic"));
  if (parser.isSet(QStringLiteral("no-invert")))
    settings.measure.invertPicture = settings.bscan.invertPicture = false;
  const bool allOn = parser.isSet(QStringLiteral("all-lines")),
             allOff = parser.isSet(QStringLiteral("no-optional-lines"));
  if (allOn && allOff)
    return UsageError(QStringLiteral("--all-lines and --no-optional-lines exclude each other"));
  if (allOn || allOff) settings = WithAllOptionalLines(settings, allOn);

  if (out.isEmpty()) return UsageError(QStringLiteral("--out FILE is needed"));
  const QString extension = QFileInfo(out).suffix().toLower();
  if (extension != QLatin1String("docx") && extension != QLatin1String("pdf"))
    return UsageError(QStringLiteral("cannot write '%1': a report is written as .docx or .pdf")
                          .arg(QDir::toNativeSeparators(out)));
  const bool summary = parser.isSet(QStringLiteral("summary"));
  std::optional<std::int64_t> summaryMinimum;  // hundredths of a mm
  if (parser.isSet(QStringLiteral("min"))) {
    if (!summary) return UsageError(QStringLiteral("--min is for --summary"));
    summaryMinimum = ParseThicknessMm(parser.value(QStringLiteral("min")));
    if (!summaryMinimum)
      return UsageError(
          QStringLiteral("--min must be a thickness in mm with at most two decimals (got '%1')")
              .arg(parser.value(QStringLiteral("min"))));
  }
  if (templatePath.isEmpty()) templatePath = DefaultTemplatePath();  // the one installed with us

  // The report is never written over what it is made from, nor over a device, pipe or folder;
  // refused before any work.
  const QStringList inputs = QStringList{templatePath} + measureFiles + bscanFiles;
  if (const FileWriteResult target = CheckWriteTarget(out, inputs); !target)
    return Fail(target.message());
  if (const QString problem = TemplateProblem(templatePath); !problem.isEmpty())
    return Fail(problem);

  // Every file is read before the document is made, so a bad file leaves no half report.
  std::vector<LoadedFile> measures, bscans;
  for (auto [files, loaded] : {std::pair{&measureFiles, &measures}, {&bscanFiles, &bscans}}) {
    for (const QString& f : *files) {
      loaded->push_back(LoadLocalFile(f));
      if (!loaded->back().ok())
        return Fail(loaded->back().reason.isEmpty() ? loaded->back().error : loaded->back().reason);
    }
  }

  QTemporaryDir folder;
  if (!folder.isValid())
    return Fail(QStringLiteral("cannot create a temporary folder: %1").arg(folder.errorString()));
  PictureClipboard clipboard;
  WordBackendOptions engine;
  engine.docx.reportsFolder = folder.path();
  engine.docx.openFile = [](const QString&) { return false; };  // no desktop here
  if (writer) {
    const WordBackendAvailability available = CheckWordBackend(WordBackend::kWriter);
    if (!available.available)
      return Fail(QStringLiteral("LibreOffice Writer cannot be used: ") + available.reason);
    // A LibreOffice of its own, so that the user's running one is not touched.
    engine.writer.headless = true;
    engine.writer.profileDir = folder.filePath(QStringLiteral("libreoffice-profile"));
  }
  std::unique_ptr<ReportPort> port =
      CreateReportPort(writer ? WordBackend::kWriter : WordBackend::kDocx, engine);
  ConsoleFeedback feedback;
  WordReport report(*port, clipboard, feedback);

  if (!report.CreateWordDocument(templatePath, settings, devnum)) return 1;
  auto send = [&](BlockKind kind, const std::vector<LoadedFile>& files) {
    std::vector<const TKD735FileContent*> entries;
    for (const auto& f : files) entries.push_back(f.content.get());
    return report.SendAllFiles(kind, entries, settings);
  };
  if (!send(BlockKind::Measure, measures) || !send(BlockKind::Bscan, bscans)) return 1;
  if (summary) {
    // The statistics of the measurement files, after the blocks.
    std::vector<SurveyEntry> entries;
    for (std::size_t i = 0; i < measures.size(); ++i)
      entries.push_back(SurveyEntry{measures[i].entryText, measures[i].content.get(),
                                    measureFiles[static_cast<qsizetype>(i)]});
    const SurveyTable table =
        MakeSurveyTable(SurveyKind::Measure, entries, summaryMinimum, UserLocale());
    SummaryTable summaryTable{QStringLiteral("Сводка измерений"), {}, settings.font};
    for (const SurveySummaryLine& line : SurveySummary(table))
      summaryTable.rows.emplace_back(line.label, line.value);
    if (!report.SendSummary(summaryTable)) return 1;
  }

  // The report goes to --out, never over one of its inputs.
  if (const FileWriteResult target = CheckWriteTarget(out, inputs); !target)
    return Fail(target.message());
  PortStatus stored = port->Begin();
  if (stored) {
    stored = port->StoreCopy(out);
    port->End();
  }
  if (!stored) return Fail(stored.text());
  return 0;
}

}  // namespace kd735::cli
