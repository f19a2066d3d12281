// The kd735 tool as a Linux user meets it: help, exit statuses, where messages and data go,
// names it cannot keep, and the bash completion installed with it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>

#include "files/local_file.h"
#include "tests/common/cli_runner.h"
#include "tests/common/full_disk.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::CliRun;
using testing::RecordBuilder;

CliRun Kd735(const QStringList& args, const std::function<void(QProcess&)>& prepare = nullptr) {
  return testing::RunKd735(args, prepare);
}

// Every verb and the options its help must show.
const struct VerbOptions {
  QString verb;
  QStringList options;
} kVerbs[] = {
    {u"describe"_s, {u"--styles"_s}},
    {u"picture"_s, {u"--invert"_s}},
    {u"block"_s, {u"--kind"_s, u"--all-lines"_s, u"--no-optional-lines"_s}},
    {u"listname"_s, {}},
    {u"table"_s, {u"--format"_s, u"--min"_s, u"--separator"_s, u"--bom"_s}},
    {u"list"_s, {}},
    {u"dump"_s, {}},
    {u"key"_s, {}},
    {u"message"_s, {u"--time"_s}},
    {u"screen"_s, {u"--scale"_s, u"--invert"_s}},
    {u"read"_s, {u"--out"_s}},
    {u"report"_s, {u"--template"_s,    u"--out"_s,       u"--number"_s,    u"--no-increment"_s,
                   u"--no-number"_s,   u"--no-date"_s,   u"--devnum"_s,    u"--font"_s,
                   u"--size"_s,        u"--bold"_s,      u"--italic"_s,    u"--measure-table"_s,
                   u"--bscan-table"_s, u"--no-invert"_s, u"--all-lines"_s, u"--no-optional-lines"_s,
                   u"--measure"_s,     u"--bscan"_s,     u"--writer"_s,    u"--summary"_s,
                   u"--min"_s}},
};

// The long options a help text lists under "Options:".
QStringList HelpOptions(const QString& help) {
  QStringList options;
  const QString section = help.section(u"Options:\n"_s, 1).section(u"\n\n"_s, 0, 0);
  static const QRegularExpression option(u"^  (?:-\\w, )?(--[a-z-]+)"_s,
                                         QRegularExpression::MultilineOption);
  for (const auto& m : option.globalMatch(section)) options << m.captured(1);
  return options;
}

TEST(Tool, HelpGoesToStdoutAndExitsZero) {
  const CliRun help = Kd735({u"--help"_s});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err, QString());
  EXPECT_TRUE(help.out.startsWith(u"Usage: kd735 "_s)) << help.out.toStdString();
  for (const VerbOptions& v : kVerbs)
    EXPECT_TRUE(help.out.contains(u"\n  "_s + v.verb + u' ')) << v.verb.toStdString();
  EXPECT_EQ(Kd735({u"-h"_s}).out, help.out);
  EXPECT_EQ(Kd735({u"help"_s}).out, help.out);

  for (const VerbOptions& v : kVerbs) {
    SCOPED_TRACE(v.verb.toStdString());
    const CliRun own = Kd735({v.verb, u"--help"_s});
    const CliRun viaHelp = Kd735({u"help"_s, v.verb});
    EXPECT_EQ(own.exitCode, 0);
    EXPECT_EQ(viaHelp.exitCode, 0);
    EXPECT_EQ(own.err + viaHelp.err, QString());
    EXPECT_EQ(own.out, viaHelp.out);
    EXPECT_TRUE(own.out.startsWith(u"Usage: kd735 "_s + v.verb)) << own.out.toStdString();
    QStringList expected = v.options;
    expected.prepend(u"--help"_s);
    QStringList shown = HelpOptions(own.out);
    expected.sort();
    shown.sort();
    EXPECT_EQ(shown, expected) << own.out.toStdString();
  }
  // Help wins over the other arguments, right or wrong.
  EXPECT_EQ(Kd735({u"table"_s, u"--bogus"_s, u"-h"_s}).exitCode, 0);
}

// Usage errors exit 2 with one line on stderr that says what is wrong and where the help is.
TEST(Tool, UsageErrorsExitTwoWithOneLine) {
  QTemporaryDir dir;
  const QString file = dir.filePath(u"m.KDMesuare"_s);
  ASSERT_EQ(SaveLocalFile(RecordBuilder::Measurement().record, file), QString());
  struct Case {
    QStringList args;
    QString start;  // the message up to the reason
    QString reason;
  } cases[] = {
      {{}, u"kd735: "_s, u"no verb given"_s},
      {{u"bogus"_s}, u"kd735: "_s, u"unknown verb 'bogus'"_s},
      {{u"--bogus"_s}, u"kd735: "_s, u"unknown option '--bogus'"_s},
      {{u"help"_s, u"bogus"_s}, u"kd735: help: "_s, u"unknown verb 'bogus'"_s},
      {{u"describe"_s}, u"kd735: describe: "_s, u"no FILE given"_s},
      {{u"describe"_s, file, file}, u"kd735: describe: "_s, u"one FILE only"_s},
      {{u"describe"_s, u"--bogus"_s, file}, u"kd735: describe: "_s, u"unknown option 'bogus'"_s},
      {{u"table"_s, u"--format"_s, u"xml"_s, file}, u"kd735: table: "_s, u"--format is text"_s},
      {{u"table"_s, u"--min"_s}, u"kd735: table: "_s, u"missing value after '--min'"_s},
      {{u"picture"_s, file, dir.filePath(u"out.xyz"_s)},
       u"kd735: picture: "_s,
       u"cannot write '"_s + dir.filePath(u"out.xyz"_s) +
           u"': a picture is written as .png or "
           u".bmp"_s},
      {{u"picture"_s, file, u"-"_s}, u"kd735: picture: "_s, u"a picture is written to a file"_s},
      {{u"screen"_s, u"shot.jpg"_s},
       u"kd735: screen: "_s,
       u"cannot write 'shot.jpg': a picture is written as .png or .bmp"_s},
      {{u"report"_s, u"--out"_s, dir.filePath(u"x.odt"_s), u"--measure"_s, file},
       u"kd735: report: "_s,
       u"cannot write '"_s + dir.filePath(u"x.odt"_s) +
           u"': a report is written as .docx or "
           u".pdf"_s},
      {{u"report"_s, u"--measure"_s, file}, u"kd735: report: "_s, u"--out FILE is needed"_s},
      {{u"report"_s, u"--out"_s, u"r.docx"_s, u"--min"_s, u"3"_s},
       u"kd735: report: "_s,
       u"--min is for --summary"_s},
      {{u"report"_s, u"--out"_s, u"r.docx"_s, u"--summary"_s, u"--min"_s, u"3.001"_s},
       u"kd735: report: "_s,
       u"--min must be a thickness in mm"_s},
      {{u"report"_s, u"--out"_s, u"r.docx"_s, u"--all-lines"_s, u"--no-optional-lines"_s},
       u"kd735: report: "_s,
       u"--all-lines and --no-optional-lines exclude each other"_s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(u' ').toStdString());
    const CliRun r = Kd735(c.args, [&](QProcess& p) { p.setWorkingDirectory(dir.path()); });
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, QString());
    EXPECT_TRUE(r.err.startsWith(c.start + c.reason)) << r.err.toStdString();
    EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.endsWith(u" --help'\n"_s)) << r.err.toStdString();
  }
  // Nothing was written for the refused outputs, "-" included.
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
            QStringList{u"m.KDMesuare"_s});
}

// A write to stdout that fails is a failure: the data did not arrive.
TEST(Tool, FailedWritesToStdoutExitOne) {
  QTemporaryDir dir;
  const QString file = dir.filePath(u"m.KDMesuare"_s);
  ASSERT_EQ(SaveLocalFile(RecordBuilder::Measurement().record, file), QString());
  const QString prefix = u"kd735: describe: cannot write to standard output: "_s;
  const CliRun full =
      Kd735({u"describe"_s, file}, [](QProcess& p) { p.setStandardOutputFile(u"/dev/full"_s); });
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_EQ(full.err, prefix + testing::FullFolder::ToolReason(ENOSPC) + u'\n');

  const CliRun closed = Kd735({u"describe"_s, file}, [](QProcess& p) {
    p.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
  });
  EXPECT_EQ(closed.exitCode, 1);
  EXPECT_EQ(closed.err, prefix + testing::FullFolder::ToolReason(EBADF) + u'\n');

  // The help is data too.
  const CliRun help =
      Kd735({u"--help"_s}, [](QProcess& p) { p.setStandardOutputFile(u"/dev/full"_s); });
  EXPECT_EQ(help.exitCode, 1);
  EXPECT_TRUE(help.err.startsWith(u"kd735: cannot write to standard output: "_s))
      << help.err.toStdString();

  // A verb that writes no data works with stdout closed, and its file is not taken for stdout.
  const QString png = dir.filePath(u"p.png"_s);
  const CliRun picture = Kd735({u"picture"_s, file, png}, [](QProcess& p) {
    p.setChildProcessModifier([] { ::close(STDOUT_FILENO); });
  });
  EXPECT_EQ(picture.exitCode, 0) << picture.err.toStdString();
  EXPECT_EQ(QImage(png).size(), QSize(134, 70));
}

// A name whose bytes are not UTF-8 is refused: Qt would change it, and the tool would then read
// another file or write under another name.
TEST(Tool, NamesThatAreNotUtf8AreRefused) {
  QTemporaryDir dir;
  const QByteArray folder = QFile::encodeName(dir.path());
  const QByteArray odd = folder + "/\xFF.KDMesuare";
  const RecordBuilder b = RecordBuilder::Measurement();
  {
    const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, b.record.data(), kStoredRecordSize), kStoredRecordSize);
    ::close(fd);
  }
  const QString good = dir.filePath(u"m.KDMesuare"_s);
  ASSERT_EQ(SaveLocalFile(b.record, good), QString());
  const QStringList before = QDir(dir.path()).entryList(QDir::Files);

  // The odd bytes come from the shell: QProcess would encode the arguments as UTF-8.
  auto run = [&](const QString& script) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"LANG"_s, u"ru_RU.UTF-8"_s);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start(u"/bin/sh"_s, {u"-c"_s, script, QStringLiteral(KD735_CLI), good});
    EXPECT_TRUE(p.waitForFinished(60000));
    return CliRun{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                  QString::fromUtf8(p.readAllStandardError())};
  };
  const CliRun describe = run(u"exec \"$0\" describe \"$(printf '\\377.KDMesuare')\""_s);
  EXPECT_EQ(describe.exitCode, 2);
  EXPECT_TRUE(describe.err.startsWith(u"kd735: describe: '\uFFFD.KDMesuare' is not valid UTF-8"_s))
      << describe.err.toStdString();
  const CliRun picture = run(u"exec \"$0\" picture \"$1\" \"$(printf 'p\\377.png')\""_s);
  EXPECT_EQ(picture.exitCode, 2);
  EXPECT_EQ(picture.out, QString());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), before);
  ::unlink(odd.constData());  // QTemporaryDir cannot name it either
}

TEST(Tool, ListSaysWhenNoInstrumentIsThere) {
  // No instrument on this machine's USB bus (or no USB at all): a message, not an empty list.
  const CliRun r = Kd735({u"list"_s});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, QString());
  EXPECT_TRUE(r.err.startsWith(u"kd735: list: "_s)) << r.err.toStdString();
}

// The completion installed with the package knows every verb and every option the help shows.
TEST(Tool, BashCompletionFollowsTheHelp) {
  const QString bash = QStandardPaths::findExecutable(u"bash"_s);
  KD735_NEED(!bash.isEmpty(), "bash");
  auto complete = [&](const QStringList& words) {
    QProcess p;
    QStringList quoted;
    for (const QString& w : words) quoted << u"'"_s + w + u"'"_s;
    p.start(bash, {u"-c"_s,
                   u"source \"$0\"; COMP_WORDS=("_s + quoted.join(u' ') +
                       u"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kd735; "
                       u"printf '%s\\n' \"${COMPREPLY[@]}\""_s,
                   QStringLiteral(KD735_COMPLETION)});
    EXPECT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    QStringList reply = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n');
    reply.removeAll(QString());
    reply.sort();
    return reply;
  };
  QStringList verbs{u"help"_s};
  for (const VerbOptions& v : kVerbs) verbs << v.verb;
  verbs.sort();
  EXPECT_EQ(complete({u"kd735"_s, u""_s}), verbs);
  EXPECT_EQ(complete({u"kd735"_s, u"--simulate"_s, u"re"_s}),
            (QStringList{u"read"_s, u"report"_s}));
  EXPECT_EQ(complete({u"kd735"_s, u"help"_s, u"ta"_s}), QStringList{u"table"_s});
  EXPECT_EQ(complete({u"kd735"_s, u"table"_s, u"--format"_s, u""_s}),
            (QStringList{u"csv"_s, u"json"_s, u"text"_s}));
  for (const VerbOptions& v : kVerbs) {
    QStringList shown = HelpOptions(Kd735({v.verb, u"--help"_s}).out);
    shown.sort();
    EXPECT_EQ(complete({u"kd735"_s, v.verb, u"--"_s}), shown) << v.verb.toStdString();
  }
}

}  // namespace
}  // namespace kd735
