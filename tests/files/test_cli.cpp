#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "files/local_file.h"
#include "tests/common/cli_runner.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::CliRun;
using testing::RecordBuilder;

CliRun Kd735(const QStringList& args) { return testing::RunKd735(args); }

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
  EXPECT_TRUE(size.err.contains(u"Неправильный размер файла (4096 байт)\n"_s + small.fileName() +
                                u"\nЧтение невозможно"_s))
      << size.err.toStdString();
  EXPECT_TRUE(size.out.isEmpty());

  const CliRun missing = Kd735({u"describe"_s, dir_.filePath(u"none"_s)});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(missing.err.contains(u"Не существует"_s));

  EXPECT_EQ(Kd735({u"block"_s, measure_, u"--kind"_s, u"other"_s}).exitCode, 1);
  EXPECT_EQ(Kd735({u"describe"_s, measure_, u"--bogus"_s}).exitCode, 1);
}

}  // namespace
}  // namespace kd735
