#include <QGuiApplication>
#include <algorithm>

#include "files/runtime_folder.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

constexpr Verb kVerbs[] = {
    {"describe", "[--styles] FILE",
     "Print a local instrument file's description as the viewer "
     "shows it.",
     DefineDescribe, Describe},
    {"picture", "[--invert] FILE OUT",
     "Write a local instrument file's screen picture "
     "(134 x 70 pixels) as a PNG or BMP file.",
     DefinePicture, Picture},
    {"block", "--kind measure|bscan [--all-lines|--no-optional-lines] FILE",
     "Print the text lines of a local instrument file's report data block.", DefineBlock, Block},
    {"listname", "FILE", "Print a local instrument file's list entry name.", DefineListName,
     ListName},
    {"table", "[--format text|csv|json] [--min MM] [--separator C] [--bom] FILE...",
     "Print the numbers of local measurement and B-scan files as tables, with the statistics of "
     "the thickness readings.",
     DefineTable, Table},
    {"list", "", "List the attached instruments.", DefineList, List},
    {"dump", "INDEX", "Print the Plug-and-Play properties of an attached instrument.", DefineDump,
     Dump},
    {"key", "escape|enter|up|down|left|right|restart|lock|unlock",
     "Press a key of the instrument, restart it, or lock or unlock its keyboard.", DefineKey, Key},
    {"message", "[--time S] TEXT", "Show a text in a message window on the instrument's screen.",
     DefineMessage, Message},
    {"screen", "[--scale 1|2] [--invert] OUT",
     "Write one whole live screen of the instrument as a PNG or BMP file.", DefineScreen, Screen},
    {"read", "measure|bscan --out DIR",
     "Read all measurement or all B-scan files of the instrument into local files.", DefineRead,
     Read},
    {"report", "[OPTION...] --out FILE [--measure FILE...] [--bscan FILE...]",
     "Make a report document from a template and send local files to it as data blocks.",
     DefineReport, Report, PrepareReport},
};

const Verb* FindVerb(const QString& name) {
  const auto it = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                               [&](const Verb& v) { return name == QLatin1String(v.name); });
  return it == std::end(kVerbs) ? nullptr : it;
}

// `head` followed by `body` broken into lines of at most 79 characters, the continuation lines
// indented as far as the body starts.
QString Wrapped(const QString& head, const QString& body) {
  QString text, current = head;
  qsizetype start = head.size();
  for (const QString& word : body.split(u' ', Qt::SkipEmptyParts)) {
    if (current.size() > start && current.size() + 1 + word.size() > 79) {
      text += current + u'\n';
      current = QString(head.size(), u' ');
      start = current.size();
    } else if (current.size() > start) {
      current += u' ';
    }
    current += word;
  }
  return text + current + u'\n';
}

QString Overview() {
  QString text = QStringLiteral(
      "Usage: kd735 [--simulate] [--log] VERB [OPTION...] [ARGUMENT...]\n"
      "       kd735 help [VERB]\n"
      "       kd735 --help | --version\n"
      "The KD735 ultrasonic thickness gauge from a shell: local instrument files, the\n"
      "instrument on the USB bus, and reports.\n"
      "\n"
      "Options:\n"
      "  --simulate  Attach to the simulated instrument instead of the USB bus.\n"
      "  --log       Print the link's numbered log lines on standard error.\n"
      "  -h, --help  Show this help and exit.\n"
      "  --version   Print the version and exit.\n"
      "\n"
      "Verbs:\n");
  qsizetype width = 0;
  for (const Verb& v : kVerbs) width = std::max(width, qsizetype(qstrlen(v.name)));
  for (const Verb& v : kVerbs) {
    text += Wrapped(QStringLiteral("  ") + QString::fromLatin1(v.name).leftJustified(width + 2),
                    QString::fromUtf8(v.summary));
  }
  text += QStringLiteral(
      "\n"
      "'kd735 help VERB' or 'kd735 VERB --help' shows a verb's options and arguments.\n"
      "Exit status: 0 on success, 1 when an operation fails, 2 for a usage error.\n");
  return text;
}

// The options every verb takes besides its own.
void DefineCommon(QCommandLineParser& parser) {
  parser.addOption(QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                                      QStringLiteral("Show this help and exit.")));
  for (const char* name : {"simulate", "log"}) {
    QCommandLineOption global(QString::fromLatin1(name));
    global.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(global);
  }
}

void DefineVerb(const Verb& verb, QCommandLineParser& parser) {
  parser.setApplicationDescription(Wrapped(QString(), QString::fromUtf8(verb.summary)).trimmed());
  DefineCommon(parser);
  verb.define(parser);
}

QString VerbHelp(const Verb& verb, const QCommandLineParser& parser) {
  // Qt's first line names the program as it was started; ours names the verb.
  const QString qt = parser.helpText();
  QString usage = QStringLiteral("Usage: kd735 ") + QLatin1String(verb.name);
  if (qstrlen(verb.synopsis)) usage += u' ' + QString::fromUtf8(verb.synopsis);
  return usage + qt.mid(qt.indexOf(u'\n'));
}

// Qt's parse errors ("Unknown option 'x'.") as the tool's messages.
QString ParseError(QString text) {
  if (text.endsWith(u'.')) text.chop(1);
  if (!text.isEmpty()) text[0] = text[0].toLower();
  return text;
}

int RunVerb(const Verb& verb, const QStringList& args, GlobalOptions options) {
  QCommandLineParser parser;
  DefineVerb(verb, parser);
  const QStringList prepared = verb.prepare ? verb.prepare(args) : args;
  const bool parsed =
      parser.parse(QStringList{QStringLiteral("kd735 ") + QLatin1String(verb.name)} + prepared);
  if (parser.isSet(QStringLiteral("help"))) {
    PrintData(VerbHelp(verb, parser).toUtf8());
    return 0;
  }
  if (!parsed) return UsageError(ParseError(parser.errorText()));
  options.simulate |= parser.isSet(QStringLiteral("simulate"));
  options.log |= parser.isSet(QStringLiteral("log"));
  return verb.run(parser, options);
}

int Help(const QStringList& args) {
  if (args.isEmpty()) {
    PrintData(Overview().toUtf8());
    return 0;
  }
  const Verb* verb = args.size() == 1 ? FindVerb(args[0]) : nullptr;
  if (!verb) {
    SetVerb(QStringLiteral("help"));
    return UsageError(args.size() == 1 ? QStringLiteral("unknown verb '%1'").arg(args[0])
                                       : QStringLiteral("give one verb"));
  }
  QCommandLineParser parser;
  DefineVerb(*verb, parser);
  PrintData(VerbHelp(*verb, parser).toUtf8());
  return 0;
}

// `undecodable` lists the arguments whose bytes are not UTF-8: Qt would change them, and a file
// name would then lead to another file.
int Run(QStringList args, const QStringList& undecodable) {
  GlobalOptions options;
  while (!args.isEmpty() && args[0].startsWith(u'-')) {
    const QString option = args.takeFirst();
    if (option == QLatin1String("--")) break;
    if (option == QLatin1String("--simulate")) {
      options.simulate = true;
    } else if (option == QLatin1String("--log")) {
      options.log = true;
    } else if (option == QLatin1String("--version")) {
      PrintLine(QStringLiteral("kd735 " KD735_VERSION));
      return 0;
    } else if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
      return Help({});
    } else {
      return UsageError(QStringLiteral("unknown option '%1'").arg(option));
    }
  }
  if (args.isEmpty()) return UsageError(QStringLiteral("no verb given"));
  const QString name = args.takeFirst();
  if (name == QLatin1String("help")) return Help(args);
  const Verb* verb = FindVerb(name);
  if (!verb) return UsageError(QStringLiteral("unknown verb '%1'").arg(name));
  SetVerb(name);
  if (!undecodable.isEmpty())
    return UsageError(
        QStringLiteral("'%1' is not valid UTF-8: the tool takes names and texts in UTF-8 only")
            .arg(undecodable.first()));
  return RunVerb(*verb, args, options);
}

}  // namespace

}  // namespace kd735::cli

int main(int argc, char** argv) {
  kd735::cli::GuardStandardStreams();
  // The arguments are the tool's own: Qt is shown the program name only, so that "-reverse" or
  // "-platform" is the verb's to take or refuse, never Qt's.
  QStringList args, undecodable;
  for (int i = 1; i < argc; ++i) {
    const QByteArray bytes(argv[i]);
    args << QString::fromLocal8Bit(bytes);
    if (args.last().toLocal8Bit() != bytes) undecodable << args.last();
  }
  // Pictures and the report need QtGui; no window is ever shown.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Outside a desktop session (ssh, cron, CI) Qt warns on every start that it has no runtime
  // folder; give it a private one, so the tool's stderr stays its own.
  kd735::EnsurePrivateRuntimeFolder();
  int qtArgc = 1;
  QGuiApplication app(qtArgc, argv);
  return kd735::cli::FinishOutput(kd735::cli::Run(args, undecodable));
}
