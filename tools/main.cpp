#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>

#include "tools/verbs.h"

namespace kd735::cli {

int Fail(const QString& text) {
  QTextStream err(stderr);
  err << "kd735: " << QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')) << Qt::endl;
  return 1;
}

void PrintLine(const QString& text) {
  QTextStream out(stdout);
  out << text << Qt::endl;
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
  // Pictures and the report need QtGui; no window is ever shown.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Outside a desktop session (ssh, cron, CI) Qt warns on every start that it has no runtime
  // folder; give it the private one it would fall back to, so the tool's stderr stays its own.
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    const QString runtime = QDir::tempPath() + QStringLiteral("/runtime-%1").arg(::getuid());
    if (QDir().mkpath(runtime) &&
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
      qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
  }
  QGuiApplication app(argc, argv);

  QStringList args = app.arguments().mid(1);
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
