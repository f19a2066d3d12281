#include <gtest/gtest.h>

#include <QFont>

#include "report/report_settings.h"

namespace kd735 {
namespace {

TEST(ReportSettings, Defaults) {
  const ReportSettings s;
  EXPECT_EQ(s.documentNumber, 0);
  EXPECT_TRUE(s.incrementNumber && s.insertNumber && s.insertDate && s.insertDeviceNumber);
  EXPECT_EQ(s.font, (BlockFont{QStringLiteral("Times New Roman"), 10, false, false}));
  EXPECT_EQ(s.measure.tablePosition, 1);
  EXPECT_EQ(s.bscan.tablePosition, 2);
  const MeasureBlockSettings m;
  EXPECT_TRUE(m.invertPicture && m.fileNameLine && m.dateLine && m.stateLine);
  EXPECT_FALSE(m.instrumentLine || m.sweepLines || m.scaleLines || m.probeLines);
  const BscanBlockSettings b;
  EXPECT_TRUE(b.invertPicture && b.fileNameLine && b.dateLine && b.speedLine);
  EXPECT_FALSE(b.instrumentLine || b.sweepLines || b.scaleLines || b.probeLines);
}

TEST(ReportSettings, IntegerFieldsReadAndClamp) {
  struct Case {
    const char* text;
    IntegerRange range;
    int expected;
  };
  const Case cases[] = {
      {"17", kDocumentNumberRange, 17},
      {"9999999", kDocumentNumberRange, 1000000},
      {"99999999999999999999", kDocumentNumberRange, 0},  // not a 64-bit number
      {"-5", kDocumentNumberRange, 0},
      {"abc", kTablePositionRange, 1},
      {"", kFontSizeRange, 2},
      {"12x", kFontSizeRange, 2},
      {" 12 ", kFontSizeRange, 12},
      {"72", kFontSizeRange, 40},
      {"1", kFontSizeRange, 2},
      {"0", kTablePositionRange, 1},
      {"10", kTablePositionRange, 9},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadIntegerField(QString::fromLatin1(c.text), c.range), c.expected) << c.text;
  }
  ReportSettings s;
  s.documentNumber = 2000000;
  s.font.size = 1;
  s.measure.tablePosition = 0;
  s.bscan.tablePosition = 12;
  const ReportSettings c = s.Clamped();
  EXPECT_EQ(c.documentNumber, 1000000);
  EXPECT_EQ(c.font.size, 2);
  EXPECT_EQ(c.measure.tablePosition, 1);
  EXPECT_EQ(c.bscan.tablePosition, 9);
}

TEST(ReportSettings, FontChoice) {
  QFont big(QStringLiteral("Arial"), 72);
  big.setBold(true);
  big.setItalic(true);
  big.setUnderline(true);
  EXPECT_EQ(BlockFontFromChoice(big), (BlockFont{QStringLiteral("Arial"), 40, true, true}));
  const QFont tiny(QStringLiteral("Courier New"), 1);
  EXPECT_EQ(BlockFontFromChoice(tiny), (BlockFont{QStringLiteral("Courier New"), 2, false, false}));
  QFont pixels(QStringLiteral("X"));
  pixels.setPixelSize(20);
  EXPECT_EQ(BlockFontFromChoice(pixels).size, 2);
}

}  // namespace
}  // namespace kd735
