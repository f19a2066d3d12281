#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>

#include "files/local_file.h"
#include "tests/common/cli_runner.h"
#include "tests/common/file_helpers.h"
#include "tests/common/full_disk.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using testing::Read;

using namespace Qt::StringLiterals;
using testing::CliRun;
using testing::RecordBuilder;

CliRun Kd735(const QStringList& args) { return testing::RunKd735(args); }

// Only line breaks (and the tab of --styles) may reach the terminal.
bool HasControlCharacters(const QString& out) {
  return std::any_of(out.begin(), out.end(),
                     [](QChar c) { return c != u'\n' && c != u'\t' && IsControlCharacter(c); });
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    auto b = RecordBuilder::Measurement();
    b.I32(field::kThickness, -150).Byte(1116, 0x01);
    measure_ = dir_.filePath(u"m.KDMesuare"_s);
    ASSERT_EQ(SaveLocalFile(b.record, measure_), QString());
  }
  QTemporaryDir dir_;
  QString measure_;
};

TEST_F(Cli, DescribeBlockAndListName) {
  const CliRun d = Kd735({u"describe"_s, measure_, u"--styles"_s});
  EXPECT_EQ(d.exitCode, 0) << d.err.toStdString();
  const QStringList lines = d.out.split(u'\n');
  ASSERT_GE(lines.size(), 9);
  EXPECT_EQ(lines[2], u"bold-blue\tФайл ИЗМЕРЕНИЯ");
  EXPECT_EQ(lines[7], u"bold-black\t-H = 1,50 мм");

  const CliRun b =
      Kd735({u"block"_s, measure_, u"--kind"_s, u"measure"_s, u"--no-optional-lines"_s});
  EXPECT_EQ(b.exitCode, 0);
  EXPECT_EQ(b.out, u" \nИЗМЕРЕНИЕ\n-H = 1,50 мм\n");

  const CliRun n = Kd735({u"listname"_s, measure_});
  EXPECT_EQ(n.out, u"TEST0001 N005\n");
}

TEST_F(Cli, PictureFormats) {
  const QString bmp = dir_.filePath(u"p.bmp"_s), png = dir_.filePath(u"p.png"_s);
  EXPECT_EQ(Kd735({u"picture"_s, measure_, bmp}).exitCode, 0);
  EXPECT_EQ(Kd735({u"picture"_s, measure_, png, u"--invert"_s}).exitCode, 0);
  QFile f(bmp);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.read(2), "BM");
  const QImage normal(bmp), inverted(png);
  ASSERT_EQ(normal.size(), QSize(134, 70));
  EXPECT_EQ(normal.pixel(3, 3), qRgb(255, 255, 0));
  EXPECT_EQ(inverted.pixel(3, 3), qRgb(0, 0, 255));
  EXPECT_EQ(inverted.pixel(4, 4), qRgb(255, 255, 255));
}

TEST_F(Cli, BadInputFails) {
  QFile small(dir_.filePath(u"small.KDBscan"_s));
  ASSERT_TRUE(small.open(QIODevice::WriteOnly));
  small.write(QByteArray(2132, 0));
  small.close();
  const CliRun size = Kd735({u"listname"_s, small.fileName()});
  EXPECT_EQ(size.exitCode, 1);
  // The message's lines joined on one line, after the tool and the verb.
  EXPECT_EQ(size.err, u"kd735: listname: Неправильный размер файла (4096 байт) "_s +
                          small.fileName() + u" Чтение невозможно\n"_s);
  EXPECT_TRUE(size.out.isEmpty());

  const CliRun missing = Kd735({u"describe"_s, dir_.filePath(u"none"_s)});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.err.contains(u"Не существует"_s));

  EXPECT_EQ(Kd735({u"block"_s, measure_, u"--kind"_s, u"other"_s}).exitCode, 2);
  EXPECT_EQ(Kd735({u"describe"_s, measure_, u"--bogus"_s}).exitCode, 2);
}

// Escape sequences, bells and line breaks in a record's texts would act on the terminal and break
// the one line per item of --styles.
TEST_F(Cli, RecordTextsReachTheTerminalClean) {
  auto b = RecordBuilder::Measurement();
  b.Text(field::kFileName, "\x1B]0;x\x07\r\n").Text(field::kDeviceNumber, "\x1B[2J\x98\x7F");
  b.Text(field::kProbeType, QByteArray("a\nb\x9B", 4));
  const QString evil = dir_.filePath(u"evil.KDMesuare"_s);
  ASSERT_EQ(SaveLocalFile(b.record, evil), QString());
  const CliRun plain = Kd735({u"describe"_s, evil});
  const CliRun styles = Kd735({u"describe"_s, evil, u"--styles"_s});
  const CliRun name = Kd735({u"listname"_s, evil});
  const CliRun block = Kd735({u"block"_s, evil, u"--kind"_s, u"measure"_s, u"--all-lines"_s});
  const CliRun table = Kd735({u"table"_s, evil});
  const CliRun json = Kd735({u"table"_s, u"--format"_s, u"json"_s, evil});
  for (const CliRun* r : {&plain, &styles, &name, &block, &table, &json}) {
    EXPECT_EQ(r->exitCode, 0) << r->err.toStdString();
    EXPECT_FALSE(HasControlCharacters(r->out)) << r->out.toStdString();
  }
  EXPECT_EQ(styles.out.count(u'\n'), plain.out.count(u'\n'));
  EXPECT_EQ(styles.out.count(u'\t'), styles.out.count(u'\n'));
  EXPECT_EQ(name.out, u"#]0;x### N005\n"_s.replace(u'#', QChar::ReplacementCharacter));
}

// The arguments are the tool's own: Qt's options are the verb's mistakes, and a file whose name
// starts with '-' is read after "--".
TEST_F(Cli, QtNeverTakesTheArguments) {
  ASSERT_TRUE(QFile::copy(measure_, dir_.filePath(u"-reverse"_s)));
  const CliRun name =
      testing::RunKd735({u"listname"_s, u"--"_s, u"-reverse"_s},
                        [this](QProcess& p) { p.setWorkingDirectory(dir_.path()); });
  EXPECT_EQ(name.exitCode, 0) << name.err.toStdString();
  EXPECT_EQ(name.out, u"TEST0001 N005\n");
  const CliRun platform = Kd735({u"describe"_s, u"-platform"_s, u"xcb"_s});
  EXPECT_EQ(platform.exitCode, 2) << platform.err.toStdString();
  EXPECT_TRUE(platform.err.startsWith(u"kd735: describe: unknown option"_s))
      << platform.err.toStdString();
}

TEST_F(Cli, InputMessagesNameTheFileAndTheRealReason) {
  const QString fifo = dir_.filePath(u"fifo"_s);
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString loop = dir_.filePath(u"loop"_s);
  ASSERT_TRUE(QFile::link(loop, loop));
  const QString longName = dir_.filePath(QString(300, u'x'));
  struct Case {
    QString path, reason;
  } cases[] = {
      {fifo, u"not a regular file"_s},
      {u"/dev/null"_s, u"not a regular file"_s},
      {dir_.path(), u"is a directory"_s},
      {loop, testing::FullFolder::ToolReason(ELOOP)},
      {longName, testing::FullFolder::ToolReason(ENAMETOOLONG)},
  };
  for (const Case& c : cases) {
    const CliRun r = Kd735({u"describe"_s, c.path});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.startsWith(u"kd735: describe: "_s + c.path + u": "_s + c.reason))
        << r.err.toStdString();
  }

  // A file the user may not read; root reads everything, so the tool then runs as nobody.
  ASSERT_EQ(::chmod(QFile::encodeName(measure_).constData(), 0), 0);
  const CliRun denied = testing::RunKd735({u"describe"_s, measure_}, [](QProcess& p) {
    if (::geteuid() != 0) return;
    p.setChildProcessModifier([] {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
    });
  });
  EXPECT_EQ(denied.exitCode, 1);
  EXPECT_TRUE(denied.err.contains(u"kd735: describe: "_s + measure_ + u": "_s +
                                  testing::FullFolder::ToolReason(EACCES)))
      << denied.err.toStdString();
}

// A picture is never written over its input, over a pipe (which would block the tool) or a
// device, and a full disk leaves the old picture as it was.
TEST_F(Cli, PictureOutputIsCheckedAndAtomic) {
  const QString input = dir_.filePath(u"m.bmp"_s);  // an input named like a picture
  ASSERT_TRUE(QFile::copy(measure_, input));
  const QByteArray bytes = Read(input);
  CliRun r = Kd735({u"picture"_s, input, input});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(u"input"_s)) << r.err.toStdString();
  EXPECT_EQ(Read(input), bytes);

  const QString fifo = dir_.filePath(u"fifo.bmp"_s);
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  r = Kd735({u"picture"_s, measure_, fifo});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(fifo + u": not a regular file"_s)) << r.err.toStdString();
  EXPECT_FALSE(QFileInfo(fifo).isFile());
  if (::geteuid() == 0) {
    const QString node = dir_.filePath(u"null.bmp"_s);
    ASSERT_EQ(::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0600, makedev(1, 3)), 0);
    EXPECT_EQ(Kd735({u"picture"_s, measure_, node}).exitCode, 1);
    EXPECT_FALSE(QFileInfo(node).isFile());
  }

  testing::FullFolder full;
  ASSERT_TRUE(full.valid());
  const QString old = full.filePath(u"p.bmp"_s);
  QFile f(old);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("an old picture");
  f.close();
  full.Fill();
  r = testing::RunKd735({u"picture"_s, measure_, old}, [&](QProcess& p) { full.Prepare(p); });
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(old + u": "_s + full.Reason())) << r.err.toStdString();
  EXPECT_EQ(Read(old), "an old picture");
  EXPECT_EQ(full.Entries(), QStringList{u"p.bmp"_s});
}

// A survey of three measurements (one without a valid reading) and a B-scan.
class TableCli : public Cli {
 protected:
  void SetUp() override {
    Cli::SetUp();
    thick_ = dir_.filePath(u"thick.KDMesuare"_s);
    waiting_ = dir_.filePath(u"waiting.KDMesuare"_s);
    bscan_ = dir_.filePath(u"scan.KDBscan"_s);
    ASSERT_EQ(SaveLocalFile(RecordBuilder::Measurement().record, thick_), QString());
    auto w = RecordBuilder::Measurement();
    w.U32(field::kMeasureState, 0);
    ASSERT_EQ(SaveLocalFile(w.record, waiting_), QString());
    ASSERT_EQ(SaveLocalFile(RecordBuilder::Bscan().record, bscan_), QString());
  }
  QStringList Files() const { return {thick_, waiting_, measure_, bscan_}; }
  QString thick_, waiting_, bscan_;
};

TEST_F(TableCli, TextTablesAndStatistics) {
  const CliRun r = Kd735(QStringList{u"table"_s, u"--min"_s, u"1"_s} + Files());
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.err, QString());
  const QStringList lines = r.out.split(u'\n');
  ASSERT_GE(lines.size(), 20) << r.out.toStdString();
  EXPECT_EQ(lines[0], u"ИЗМЕРЕНИЯ");
  // The row below the minimum carries the mark; the numbers are aligned to the right.
  EXPECT_TRUE(lines[1].startsWith(u"  №  Файл"_s)) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].startsWith(u"  1  thick.KDMesuare    12.03.24 10:15  12,34  фиксация"_s))
      << lines[2].toStdString();
  EXPECT_TRUE(lines[3].startsWith(u"  2  waiting.KDMesuare  12.03.24 10:15         ожидание"_s))
      << lines[3].toStdString();
  EXPECT_TRUE(lines[4].startsWith(u"! 3  m.KDMesuare        12.03.24 10:15  -1,50  фиксация"_s))
      << lines[4].toStdString();
  EXPECT_TRUE(
      r.out.contains(u"\nФайлов:                        3\n"
                     u"Измерений:                     2\n"
                     u"Минимальная толщина:           -1,50 мм (m.KDMesuare)\n"
                     u"Максимальная толщина:          12,34 мм (thick.KDMesuare)\n"
                     u"Средняя толщина:               5,42 мм\n"
                     u"Стандартное отклонение:        9,79 мм\n"
                     u"Размах:                        13,84 мм\n"
                     u"Минимально допустимая толщина: 1,00 мм\n"
                     u"Ниже допустимой:               1 (m.KDMesuare)\n\n"
                     u"В-СКАНЫ\n№  Файл"_s))
      << r.out.toStdString();
  EXPECT_TRUE(
      r.out.endsWith(u"1  scan.KDBscan  12.03.24 10:15      350  СРЕДНЯЯ      -1,50     "
                     u"20,00  P112-5  5,0 МГц  0123\n"_s))
      << r.out.toStdString();
  EXPECT_FALSE(r.out.contains(u'\x1B')) << "no colour when stdout is no terminal";
}

TEST_F(TableCli, CsvFollowsTheLocaleAndTheOptions) {
  CliRun r = Kd735({u"table"_s, u"--format"_s, u"csv"_s, thick_, bscan_});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.startsWith(u"№;Файл;Дата;H, мм;"_s)) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(u"\r\n1;thick.KDMesuare;12.03.24 10:15;12,34;"_s));
  // Two tables, an empty line between.
  EXPECT_TRUE(r.out.contains(u"0123\r\n\r\n№;Файл;Дата;Lck, мм;"_s)) << r.out.toStdString();

  r = testing::RunKd735({u"table"_s, u"--format"_s, u"csv"_s, thick_}, [](QProcess& p) {
    QProcessEnvironment env = p.processEnvironment();
    env.insert(u"LANG"_s, u"en_US.UTF-8"_s);  // a locale with a decimal point
    p.setProcessEnvironment(env);
  });
  EXPECT_TRUE(r.out.startsWith(u"№,Файл,Дата,\"H, мм\","_s)) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(u"\r\n1,thick.KDMesuare,12.03.24 10:15,12.34,"_s));

  // The bytes as written: a byte order mark only when asked for.
  const QString saved = dir_.filePath(u"out.csv"_s);
  auto bytes = [&](const QStringList& options) {
    testing::RunKd735(
        QStringList{u"table"_s, u"--format"_s, u"csv"_s} + options + QStringList{thick_},
        [&](QProcess& p) { p.setStandardOutputFile(saved); });
    return Read(saved);
  };
  EXPECT_TRUE(bytes({}).startsWith("\xE2\x84\x96;"));  // "№;"
  const QByteArray tabs = bytes({u"--separator"_s, u"\t"_s, u"--bom"_s});
  EXPECT_TRUE(tabs.startsWith("\xEF\xBB\xBF\xE2\x84\x96\t")) << tabs.toStdString();
  EXPECT_TRUE(tabs.contains("\r\n1\tthick.KDMesuare\t12.03.24 10:15\t12,34\t"));
}

TEST_F(TableCli, JsonForScripts) {
  const QString python = QStandardPaths::findExecutable(u"python3"_s);
  KD735_NEED(!python.isEmpty(), "python3");
  const CliRun r =
      Kd735(QStringList{u"table"_s, u"--format"_s, u"json"_s, u"--min"_s, u"1,5"_s} + Files());
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QString check =
      uR"(
import json, sys
d = json.load(sys.stdin)
m, b, s = d["measurements"], d["bscans"], d["statistics"]
assert [r["file"] for r in m] == sys.argv[1:4], m
assert [r["thickness_mm"] for r in m] == [12.34, None, -1.5]
assert b[0]["file"] == sys.argv[4] and b[0]["length_mm"] == 350
assert s["min_file"] == sys.argv[3] and s["max_file"] == sys.argv[1]
assert s["minimum_allowed_mm"] == 1.5 and s["below_minimum"] == [sys.argv[3]]
)"_s;
  QProcess p;
  p.start(python, QStringList{u"-c"_s, check} + Files());
  ASSERT_TRUE(p.waitForStarted());
  p.write(r.out.toUtf8());
  p.closeWriteChannel();
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

// A file of another kind, or one that cannot be read, fails the whole table: no half output.
TEST_F(TableCli, BadFilesFailBeforeAnyOutput) {
  auto settings = RecordBuilder::Measurement();
  settings.Byte(field::kFileKind, kSettingsFileKind);
  const QString other = dir_.filePath(u"settings.KDMesuare"_s);
  ASSERT_EQ(SaveLocalFile(settings.record, other), QString());
  CliRun r = Kd735({u"table"_s, thick_, other});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, QString());
  EXPECT_EQ(r.err, u"kd735: table: "_s + other +
                       u": neither a measurement nor a B-scan file (Файл НАСТРОЙКИ)\n"_s);
  r = Kd735({u"table"_s, thick_, dir_.filePath(u"none"_s)});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, QString());
  EXPECT_TRUE(r.err.contains(u"Не существует"_s)) << r.err.toStdString();

  const QStringList usage[] = {
      {u"--min"_s, u"1.234"_s},
      {u"--min"_s, u"-1"_s},
      {u"--separator"_s, u";"_s},
      {u"--bom"_s},
      {u"--format"_s, u"csv"_s, u"--separator"_s, u"ab"_s},
      {u"--format"_s, u"csv"_s, u"--separator"_s, u"\""_s},
  };
  for (const QStringList& args : usage) {
    r = Kd735(QStringList{u"table"_s} + args + QStringList{thick_});
    EXPECT_EQ(r.exitCode, 2) << args.join(u' ').toStdString();
    EXPECT_EQ(r.out, QString());
  }
}

// Outside a desktop session the tool makes its own runtime folder in the temporary folder; a link
// another user planted under that name is not followed, so its target keeps its permissions.
TEST_F(Cli, PlantedRuntimeFolderLinkIsNotFollowed) {
  const QString victim = dir_.filePath(u"victim"_s);
  ASSERT_TRUE(QDir().mkdir(victim));
  ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0755), 0);
  ASSERT_TRUE(QFile::link(victim, dir_.filePath(u"runtime-%1"_s.arg(::geteuid()))));
  const CliRun r = testing::RunKd735({u"listname"_s, measure_}, [this](QProcess& p) {
    QProcessEnvironment env = p.processEnvironment();
    env.remove(u"XDG_RUNTIME_DIR"_s);
    env.insert(u"TMPDIR"_s, dir_.path());
    p.setProcessEnvironment(env);
  });
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(victim).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

}  // namespace
}  // namespace kd735
