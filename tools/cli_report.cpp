#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "files/atomic_file.h"
#include "files/data_paths.h"
#include "files/local_file.h"
#include "report/docx_engine.h"
#include "report/word_backend.h"
#include "report/word_report.h"
#include "report/writer_word.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

const char kUsage[] =
    "usage: kd735 report [--template T] --out FILE [--number N] [--no-increment] [--no-number] "
    "[--no-date] [--devnum TEXT] [--font NAME] [--size N] [--bold] [--italic] "
    "[--measure-table N] [--bscan-table N] [--no-invert] [--all-lines|--no-optional-lines] "
    "[--measure FILE...] [--bscan FILE...] [--writer]\n"
    "  --writer  make the report in LibreOffice Writer (a private headless instance) and store it "
    "to --out as .docx or .pdf by the extension";

// Messages go to stderr with their line breaks, the status line to stdout. The window's boxes
// keep their fixed texts; here the error that caused a failure has already been printed, naming
// the file, and the closing guess about Word, which the tool never uses, is left out.
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
  void SetStatusText(const QString& text) override {
    if (text != report_text::WordOpenErrorStatus()) PrintLine(text);
  }
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

int Report(const QStringList& args, const GlobalOptions&) {
  QString templatePath, out;
  std::optional<QString> devnum;
  ReportSettings settings;
  QStringList measureFiles, bscanFiles;
  QStringList* fileList = nullptr;  // the list that takes the plain arguments that follow
  QString badNumber;                // the message of a numeric option out of its range
  bool writer = false;

  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&](QString* target) {
      if (i + 1 >= args.size()) return false;
      *target = args[++i];
      return true;
    };
    QString v;
    bool ok = true;
    // A numeric option out of its range is refused, never pulled into it silently.
    auto number = [&](const QString& option, const QString& text, IntegerRange range, int* target) {
      if (ReadIntegerOption(option, text, range.minimum, range.maximum, target, &badNumber))
        return true;
      badNumber = QStringLiteral("report: ") + badNumber;
      return false;
    };
    if (!a.startsWith(QLatin1String("--"))) {
      if (!fileList)
        return Fail(QStringLiteral("report: unexpected argument '%1'\n").arg(a) + kUsage);
      *fileList << a;
      continue;
    }
    fileList = nullptr;
    if (a == QLatin1String("--template")) {
      ok = value(&templatePath);
    } else if (a == QLatin1String("--out")) {
      ok = value(&out);
    } else if (a == QLatin1String("--number")) {
      ok = value(&v) && number(a, v, kDocumentNumberRange, &settings.documentNumber);
    } else if (a == QLatin1String("--no-increment")) {
      settings.incrementNumber = false;
    } else if (a == QLatin1String("--no-number")) {
      settings.insertNumber = false;
    } else if (a == QLatin1String("--no-date")) {
      settings.insertDate = false;
    } else if (a == QLatin1String("--devnum")) {
      ok = value(&v);
      devnum = v;
    } else if (a == QLatin1String("--font")) {
      ok = value(&settings.font.name);
    } else if (a == QLatin1String("--size")) {
      ok = value(&v) && number(a, v, kFontSizeRange, &settings.font.size);
    } else if (a == QLatin1String("--bold")) {
      settings.font.bold = true;
    } else if (a == QLatin1String("--italic")) {
      settings.font.italic = true;
    } else if (a == QLatin1String("--measure-table")) {
      ok = value(&v) && number(a, v, kTablePositionRange, &settings.measure.tablePosition);
    } else if (a == QLatin1String("--bscan-table")) {
      ok = value(&v) && number(a, v, kTablePositionRange, &settings.bscan.tablePosition);
    } else if (a == QLatin1String("--no-invert")) {
      settings.measure.invertPicture = settings.bscan.invertPicture = false;
    } else if (a == QLatin1String("--all-lines")) {
      settings = WithAllOptionalLines(settings, true);
    } else if (a == QLatin1String("--no-optional-lines")) {
      settings = WithAllOptionalLines(settings, false);
    } else if (a == QLatin1String("--measure")) {
      fileList = &measureFiles;
    } else if (a == QLatin1String("--bscan")) {
      fileList = &bscanFiles;
    } else if (a == QLatin1String("--writer")) {
      writer = true;
    } else {
      return Fail(QStringLiteral("report: unknown option '%1'\n").arg(a) + kUsage);
    }
    if (!ok && !badNumber.isEmpty()) return Fail(badNumber);
    if (!ok) return Fail(QStringLiteral("report: option %1 needs a value").arg(a));
  }
  if (out.isEmpty()) return Fail(QString::fromLatin1(kUsage));
  if (templatePath.isEmpty()) templatePath = DefaultTemplatePath();  // the one installed with us

  // The report is never written over what it is made from, nor over a device, pipe or folder;
  // refused before any work.
  const QStringList inputs = QStringList{templatePath} + measureFiles + bscanFiles;
  if (const FileWriteResult target = CheckWriteTarget(out, inputs); !target)
    return Fail(QStringLiteral("report: ") + target.message());
  if (const QString problem = TemplateProblem(templatePath); !problem.isEmpty())
    return Fail(QStringLiteral("report: ") + problem);

  // Every file is read before the document is made, so a bad file leaves no half report.
  std::vector<std::unique_ptr<TKD735FileContent>> measures, bscans;
  for (const QString& f : measureFiles) {
    measures.push_back(LoadFileOrFail(f));
    if (!measures.back()) return 1;
  }
  for (const QString& f : bscanFiles) {
    bscans.push_back(LoadFileOrFail(f));
    if (!bscans.back()) return 1;
  }

  QTemporaryDir folder;
  if (!folder.isValid())
    return Fail(
        QStringLiteral("report: cannot create a temporary folder: %1").arg(folder.errorString()));
  PictureClipboard clipboard;
  WordBackendOptions engine;
  engine.docx.reportsFolder = folder.path();
  engine.docx.openFile = [](const QString&) { return false; };  // no desktop here
  if (writer) {
    const QString suffix = QFileInfo(out).suffix().toLower();
    if (suffix != QLatin1String("docx") && suffix != QLatin1String("pdf"))
      return Fail(QStringLiteral("report: with --writer the output is a .docx or .pdf file"));
    const WordBackendAvailability available = CheckWordBackend(WordBackend::kWriter);
    if (!available.available)
      return Fail(QStringLiteral("report: LibreOffice Writer cannot be used: ") + available.reason);
    // A LibreOffice of its own, so that the user's running one is not touched.
    engine.writer.headless = true;
    engine.writer.profileDir = folder.filePath(QStringLiteral("libreoffice-profile"));
  }
  std::unique_ptr<ReportPort> port =
      CreateReportPort(writer ? WordBackend::kWriter : WordBackend::kDocx, engine);
  ConsoleFeedback feedback;
  WordReport report(*port, clipboard, feedback);

  if (!report.CreateWordDocument(templatePath, settings, devnum)) return 1;
  auto send = [&](BlockKind kind, const std::vector<std::unique_ptr<TKD735FileContent>>& files) {
    std::vector<const TKD735FileContent*> entries;
    for (const auto& f : files) entries.push_back(f.get());
    return report.SendAllFiles(kind, entries, settings);
  };
  if (!send(BlockKind::Measure, measures) || !send(BlockKind::Bscan, bscans)) return 1;

  // The report goes to --out, never over one of its inputs.
  if (const FileWriteResult target = CheckWriteTarget(out, inputs); !target)
    return Fail(QStringLiteral("report: ") + target.message());
  PortStatus stored = port->Begin();
  if (stored) {
    stored = port->StoreCopy(out);
    port->End();
  }
  if (!stored) return Fail(QStringLiteral("report: ") + stored.text());
  return 0;
}

}  // namespace kd735::cli
