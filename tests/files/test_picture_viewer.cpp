#include <gtest/gtest.h>

#include <QLocale>

#include "files/picture.h"
#include "files/viewer.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::RecordBuilder;

const QLocale kRu(QLocale::Russian, QLocale::Russia);

bool IsFrame(int x, int y) { return x == 0 || y == 0 || x == 133 || y == 69; }

// Checks every pixel: frame red, the lit set as given, everything else background.
void ExpectPicture(const QImage& image, bool inverted, auto isLit) {
  ASSERT_EQ(image.size(), QSize(134, 70));
  for (int y = 0; y < 70; ++y) {
    for (int x = 0; x < 134; ++x) {
      const QRgb expected = IsFrame(x, y) ? qRgb(255, 0, 0)
                            : isLit(x, y) ? PictureLit(inverted).rgb()
                                          : PictureBackground(inverted).rgb();
      ASSERT_EQ(image.pixel(x, y), expected) << x << "," << y << " inverted " << inverted;
    }
  }
}

TEST(RenderPicture, AllZeroAndAllOnes) {
  for (bool inverted : {false, true}) {
    FileRecord zero{};
    ExpectPicture(RenderPicture(zero, inverted), inverted, [](int, int) { return false; });
    FileRecord ones;
    ones.fill(0xFF);
    ExpectPicture(RenderPicture(ones, inverted), inverted,
                  [](int x, int y) { return x >= 3 && x <= 130 && y >= 3 && y <= 66; });
  }
  EXPECT_EQ(PictureLit(false), QColor(255, 255, 0));
  EXPECT_EQ(PictureBackground(true), QColor(255, 255, 255));
  EXPECT_EQ(PictureLit(true), QColor(0, 0, 255));
}

TEST(RenderPicture, BitOrderOfColumns) {
  struct Case {
    int offset;
    std::uint8_t byte;
    int x, y;
  };
  const Case cases[] = {
      {1116, 0x01, 3, 3},    // last byte of column 0, lowest bit: row 0
      {1109, 0x80, 3, 66},   // first byte, highest bit: row 63
      {1116, 0x80, 3, 10},   // row 7
      {1115, 0x01, 3, 11},   // row 8
      {2132, 0x01, 130, 3},  // column 127, row 0
  };
  for (const Case& c : cases) {
    RecordBuilder b;
    b.Byte(c.offset, c.byte);
    ExpectPicture(RenderPicture(b.record, false), false,
                  [&](int x, int y) { return x == c.x && y == c.y; });
  }
}

TEST(Describe, MeasurementLinesAndFormats) {
  const auto b = RecordBuilder::Measurement();
  const Description d = DescribeRecord(b.record, kRu);
  EXPECT_TRUE(d.drawPicture);
  const QList<DescriptionLine> expected = {
      {u"КД735  0123"_s, true, false},
      {u" "_s, true, false},
      {u"Файл ИЗМЕРЕНИЯ"_s, true, true},
      {u"Имя  TEST0001 N005"_s, true, false},
      {u"Дата 12.03.24 10:15"_s, false, false},
      {u" "_s, false, false},
      {u"ИЗМЕРЕНИЕ"_s, true, true},
      {u"H = 12,34 мм"_s, true, false},
      {u"Состояние - фиксация измерений"_s, true, false},
      {u" "_s, true, false},
      {u"Развертка (А-скан)"_s, true, true},
      {u"Сдвиг  10 мкс"_s, true, true},
      {u"Ширина 250 мкс"_s, true, true},
      {u" "_s, true, true},
      {u"Параметры шкалы"_s, true, true},
      {u" СL  = 5920,00 м/с"_s, false, true},
      {u" Tpep= 1,2345 мкс"_s, false, true},
      {u" "_s, false, true},
      {u"Ультразвуковой преобразователь"_s, true, true},
      {u"P112-5   N 777"_s, false, false},
      {u"Частота 5,0 МГц"_s, false, false},
      {u" "_s, false, false},
  };
  EXPECT_EQ(d.lines, expected);
  EXPECT_EQ(StyleName(d.lines[0]), u"bold-black");
  EXPECT_EQ(StyleName(d.lines[15]), u"regular-blue");
}

TEST(Describe, BscanSettingsAndUnknownKinds) {
  const auto bscan = RecordBuilder::Bscan();
  const Description b = DescribeRecord(bscan.record, kRu);
  ASSERT_EQ(b.lines.size(), 25);
  EXPECT_EQ(b.lines[2].text, u"Файл В-СКАНА");
  const QStringList block = {u"В-СКАН"_s,
                             u"Длина сканирования Lck = 350 мм"_s,
                             u"Скорость записи В-скана - СРЕДНЯЯ"_s,
                             u"Диапазон толщин (согласно настройки прибора)"_s,
                             u"от -1,50 мм"_s,
                             u"до 20,00 мм"_s};
  for (int i = 0; i < block.size(); ++i) EXPECT_EQ(b.lines[6 + i].text, block[i]);
  EXPECT_TRUE(b.lines[6].blue);
  EXPECT_FALSE(b.lines[11].blue);
  EXPECT_EQ(b.lines[12], (DescriptionLine{u" "_s, true, false}));
  EXPECT_EQ(b.lines[13].text, u"Развертка (А-скан)");

  auto settings = RecordBuilder::Measurement();
  settings.Byte(field::kFileKind, kSettingsFileKind);
  const Description s = DescribeRecord(settings.record, kRu);
  ASSERT_EQ(s.lines.size(), 19);
  EXPECT_EQ(s.lines[2].text, u"Файл НАСТРОЙКИ");
  EXPECT_EQ(s.lines[6], (DescriptionLine{u" "_s, false, false}));  // keeps the date's format
  EXPECT_EQ(s.lines[7].text, u"Развертка (А-скан)");
  EXPECT_TRUE(s.drawPicture);

  auto unknown = RecordBuilder::Measurement();
  unknown.Byte(field::kFileKind, 0x12);
  const Description u = DescribeRecord(unknown.record, kRu);
  EXPECT_FALSE(u.drawPicture);
  const QList<DescriptionLine> expected = {
      {u"КД735  0123"_s, true, false}, {u" "_s, true, false}, {u"Неизвестный Файл"_s, true, true}};
  EXPECT_EQ(u.lines, expected);
}

TEST(Describe, AllOnesRecordIsSafe) {
  FileRecord ff;
  ff.fill(0xFF);
  EXPECT_EQ(DescribeRecord(ff, kRu).lines.size(), 3);  // kind 0xFF is not recognised
  ff[0] = kBscanKind;
  const Description d = DescribeRecord(ff, kRu);
  EXPECT_EQ(d.lines[0].text.size(), 7 + 11);
  EXPECT_EQ(d.lines[3].text.size(), 5 + 9 + 5);
}

}  // namespace
}  // namespace kd735
