#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include "tests/common/cli_runner.h"

namespace {

using kd735::testing::CliRun;

CliRun Kd735(const QStringList& args) {
  return kd735::testing::RunKd735(QStringList{QStringLiteral("--simulate")} + args);
}

TEST(LinkCli, VerbsAgainstTheSimulatedInstrument) {
  struct Case {
    QStringList args;
    int code;
    QString out;
  } cases[] = {
      {{"list"}, 0, "KD735 N 00123\n"},
      {{"dump", "-1"}, 1, QStringLiteral("Неправильный индекс устройства !!!\n")},
      {{"key", "escape"}, 0, ""},
      {{"key", "lock"}, 0, ""},
      {{"key", "menu"}, 1, ""},
      {{"message", QStringLiteral("Привет !!!"), "--time", "3"}, 0, ""},
      {{"message", "x", "--time", "21"}, 1, ""},
      {{"message", "12345678901234567"}, 1, ""},
  };
  for (const Case& c : cases) {
    const CliRun r = Kd735(c.args);
    EXPECT_EQ(r.exitCode, c.code) << c.args.join(' ').toStdString() << r.err.toStdString();
    if (!c.out.isEmpty()) {
      EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
    }
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

}  // namespace
