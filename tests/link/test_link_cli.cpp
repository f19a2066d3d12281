#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "tests/common/cli_runner.h"
#include "tests/common/full_disk.h"

namespace {

using kd735::testing::CliRun;

CliRun Kd735(const QStringList& args, const std::function<void(QProcess&)>& prepare = nullptr) {
  return kd735::testing::RunKd735(QStringList{QStringLiteral("--simulate")} + args, prepare);
}

TEST(LinkCli, VerbsAgainstTheSimulatedInstrument) {
  struct Case {
    QStringList args;
    int code;
    QString out;
    QString err;  // a part of stderr
  } cases[] = {
      {{"list"}, 0, "KD735 N 00123\n", ""},
      // A refused index is a message: on stderr, nothing on stdout. A negative one follows "--".
      {{"dump", "--", "-1"},
       1,
       "",
       QStringLiteral("kd735: dump: Неправильный индекс устройства !!!\n")},
      {{"dump", "-1"}, 2, "", "kd735: dump: unknown option '1'"},
      {{"dump", "x"}, 2, "", "INDEX must be a whole number (got 'x')"},
      {{"key", "escape"}, 0, "", ""},
      {{"key", "lock"}, 0, "", ""},
      {{"key", "menu"}, 2, "", "kd735: key: unknown KEY 'menu'"},
      {{"message", QStringLiteral("Привет !!!"), "--time", "3"}, 0, "", ""},
      {{"message", "x", "--time", "21"},
       2,
       "",
       "--time must be a whole number from 1 to 20 (got '21')"},
      {{"message", "x", "--time", "2s"}, 2, "", "--time must be a whole number from 1 to 20"},
      {{"message", "12345678901234567"}, 2, "", "TEXT has at most 16 characters"},
      {{"screen", "x.bmp", "--scale", "3"}, 2, "", "--scale must be a whole number from 1 to 2"},
  };
  for (const Case& c : cases) {
    const CliRun r = Kd735(c.args);
    EXPECT_EQ(r.exitCode, c.code) << c.args.join(' ').toStdString() << r.err.toStdString();
    if (c.code != 0) {
      EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
    } else if (!c.out.isEmpty()) {
      EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
    }
    EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
  }
  const CliRun dump = Kd735({"dump", "0"});
  EXPECT_TRUE(dump.out.contains(QStringLiteral("LocationInfo    KD735 N 00123\n")));
}

TEST(LinkCli, ReadSavesEveryFileUnderItsListName) {
  QTemporaryDir dir;
  const CliRun r = Kd735({"--log", "read", "measure", "--out", dir.path()});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  const QStringList entries = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(entries.size(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(entries[i].startsWith(QStringLiteral("00%1  ").arg(i + 1)))
        << entries[i].toStdString();
    const QFileInfo saved(QDir(dir.path()).filePath(entries[i].mid(5) + ".KDMesuare"));
    EXPECT_TRUE(saved.exists()) << saved.filePath().toStdString();
    EXPECT_EQ(saved.size(), 2133);
  }
  EXPECT_TRUE(r.err.contains(QStringLiteral("009  Команда = AAAAh Данные 0000h OK")));
  EXPECT_TRUE(r.err.contains(QStringLiteral("Команда = 0E15h Данные 0002h OK")));
}

TEST(LinkCli, ScreenDrawsAWholePass) {
  QTemporaryDir dir;
  const QString out = dir.filePath("screen.bmp");
  for (int scale : {1, 2}) {
    const CliRun r = Kd735({"screen", out, "--scale", QString::number(scale)});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage image(out);
    EXPECT_EQ(image.size(), scale == 1 ? QSize(134, 70) : QSize(264, 136));
    // Lit pixels to the right of the first four columns: more than column 0 was drawn.
    int lit = 0;
    for (int y = 3 * scale; y < image.height() - 3 * scale; ++y)
      for (int x = image.width() / 2; x < image.width() - 3 * scale; ++x)
        lit += image.pixelColor(x, y) != Qt::black;
    EXPECT_GT(lit, 0) << scale;
  }
}

// With --invert the picture starts from the inverted clear fill, as checking "Инверсия цветов"
// does: the margins between the red border and the picture are white, not black.
TEST(LinkCli, InvertedScreenStartsFromTheInvertedFill) {
  QTemporaryDir dir;
  const QString out = dir.filePath("screen.bmp");
  for (int scale : {1, 2}) {
    const CliRun r = Kd735({"screen", out, "--scale", QString::number(scale), "--invert"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage image(out);
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    for (QPoint margin : {QPoint(1, 1), QPoint(image.width() - 2, image.height() - 2),
                          QPoint(image.width() - 2, 1)})
      EXPECT_EQ(image.pixel(margin), qRgb(255, 255, 255)) << scale << " " << margin.x();
  }
}

// A pipe as the output would block the tool for ever once the picture is there: refused before
// the instrument is asked.
TEST(LinkCli, ScreenRefusesAPipe) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("fifo.bmp");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const CliRun r = Kd735({"screen", fifo});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(fifo + ": not a regular file")) << r.err.toStdString();
}

// Files read on a full disk: the tool says which could not be saved and why, fails, and leaves
// no empty or partial file behind.
TEST(LinkCli, ReadOnAFullDiskFailsAndLeavesNoEmptyFiles) {
  kd735::testing::FullFolder full;
  ASSERT_TRUE(full.valid());
  full.Fill();
  const CliRun r =
      Kd735({"read", "measure", "--out", full.path()}, [&](QProcess& p) { full.Prepare(p); });
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(full.path() + "/")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(".KDMesuare: " + full.Reason())) << r.err.toStdString();
  EXPECT_EQ(full.Entries(), QStringList());
}

}  // namespace
