#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QTextStream>
#include <cstdio>

#include "files/atomic_file.h"
#include "files/bitmap_file.h"
#include "files/runtime_folder.h"
#include "tools/verbs.h"

namespace kd735::cli {

int Fail(const QString& text) {
  QTextStream err(stderr);
  err << "kd735: " << QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')) << Qt::endl;
  return 1;
}

void Note(const QString& text) {
  QTextStream err(stderr);
  err << "kd735: note: " << QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')) << Qt::endl;
}

void PrintLine(const QString& text) {
  QTextStream out(stdout);
  out << text << Qt::endl;
}

bool ReadIntegerOption(const QString& option, const QString& text, int minimum, int maximum,
                       int* value, QString* error) {
  bool ok = false;
  const qlonglong v = text.trimmed().toLongLong(&ok, 10);
  if (ok && v >= minimum && v <= maximum) {
    *value = int(v);
    return true;
  }
  *error = QStringLiteral("%1 must be a whole number from %2 to %3 (got '%4')")
               .arg(option)
               .arg(minimum)
               .arg(maximum)
               .arg(text);
  return false;
}

bool SaveImageFile(const QImage& image, const QString& path, const char* format,
                   const QStringList& inputs, QString* error) {
  QByteArray chosen = format ? QByteArray(format) : QFileInfo(path).suffix().toLower().toLatin1();
  if (chosen.isEmpty() || !QImageWriter::supportedImageFormats().contains(chosen)) {
    *error = QDir::toNativeSeparators(path) +
             QStringLiteral(
                 ": unknown picture format (give the name an ending such as .bmp or "
                 ".png)");
    return false;
  }
  const FileWriteResult written = kd735::SaveImageFile(image, path, chosen.constData(), inputs);
  if (!written) *error = written.message();
  return written.ok();
}

}  // namespace kd735::cli

namespace {

using Verb = int (*)(const QStringList&, const kd735::cli::GlobalOptions&);

struct VerbEntry {
  const char* name;
  Verb run;
  const char* usage;
};

constexpr VerbEntry kVerbs[] = {
    {"describe", kd735::cli::Describe, "describe FILE [--styles]"},
    {"picture", kd735::cli::Picture, "picture FILE OUT [--invert]"},
    {"block", kd735::cli::Block,
     "block FILE --kind measure|bscan [--all-lines|--no-optional-lines]"},
    {"listname", kd735::cli::ListName, "listname FILE"},
    {"list", kd735::cli::List, "list"},
    {"dump", kd735::cli::Dump, "dump INDEX"},
    {"key", kd735::cli::Key, "key escape|enter|up|down|left|right|restart|lock|unlock"},
    {"message", kd735::cli::Message, "message TEXT [--time S]"},
    {"screen", kd735::cli::Screen, "screen OUT [--scale 1|2] [--invert]"},
    {"read", kd735::cli::Read, "read measure|bscan --out DIR"},
    {"report", kd735::cli::Report,
     "report --template T --out FILE [--number N] [--no-increment] [--measure FILE...] "
     "[--bscan FILE...]"},
};

int Usage() {
  QTextStream err(stderr);
  err << "usage: kd735 [--simulate] [--log] VERB ...\n";
  for (const auto& v : kVerbs) err << "  kd735 " << v.usage << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The arguments are the tool's own: Qt is shown the program name only, so that a file named
  // "-reverse" or an argument "-platform" reaches the verb instead of Qt.
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  // Pictures and the report need QtGui; no window is ever shown.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Outside a desktop session (ssh, cron, CI) Qt warns on every start that it has no runtime
  // folder; give it a private one, so the tool's stderr stays its own.
  kd735::EnsurePrivateRuntimeFolder();
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);

  kd735::cli::GlobalOptions options;
  options.simulate = args.removeAll(QStringLiteral("--simulate")) > 0;
  options.log = args.removeAll(QStringLiteral("--log")) > 0;
  if (args == QStringList{QStringLiteral("--version")}) {
    kd735::cli::PrintLine(QStringLiteral("kd735 " KD735_VERSION));
    return 0;
  }
  if (args.isEmpty()) return Usage();

  const QString verb = args.takeFirst();
  for (const auto& v : kVerbs) {
    if (verb == QLatin1String(v.name)) return v.run(args, options);
  }
  kd735::cli::Fail(QStringLiteral("unknown verb '%1'").arg(verb));
  return Usage();
}
