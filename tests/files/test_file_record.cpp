#include <gtest/gtest.h>

#include <QLocale>
#include <QStringDecoder>

#include "files/file_record.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using testing::RecordBuilder;

const QLocale kRu(QLocale::Russian, QLocale::Russia);
const QLocale kC = QLocale::c();

TEST(FormatNumber, PatternsSignsAndSeparators) {
  struct Case {
    const char16_t* pattern;
    double value;
    const QLocale& locale;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"H = ###0.00 мм", 12.34, kRu, u"H = 12,34 мм"},
      {u"H = ###0.00 мм", 12.34, kC, u"H = 12.34 мм"},
      {u"H = ###0.00 мм", -1.5, kRu, u"-H = 1,50 мм"},
      {u"H = ###0.00 мм", 0.05, kRu, u"H = 0,05 мм"},
      {u"H = ###0.00 мм", -0.05, kC, u"-H = 0.05 мм"},
      {u"H = ###0.00 мм", 0, kRu, u"H = 0,00 мм"},
      {u"H = ###0.00 мм", 21474836.47, kRu, u"H = 21474836,47 мм"},  // integer part never cut
      {u"H = ###0.00 мм", -21474836.48, kRu, u"-H = 21474836,48 мм"},
      {u"##0.00 мм", -1.5, kRu, u"-1,50 мм"},
      {u" N000", 5, kRu, u" N005"},
      {u" N000", 0, kRu, u" N000"},
      {u" N000", 255, kRu, u" N255"},
      {u" N000", 1234, kRu, u" N1234"},
      {u"000  ", 12, kRu, u"012  "},
      {u"Длина сканирования Lck = ###0 мм", 4294967295.0, kRu,
       u"Длина сканирования Lck = 4294967295 мм"},
      {u" Tpep= ###0.0000 мкс", 1.2345, kRu, u" Tpep= 1,2345 мкс"},
      {u" Tpep= ###0.0000 мкс", 429496.7295, kC, u" Tpep= 429496.7295 мкс"},
      {u" СL  = ###0.00 м/с", 1.5, kRu, u" СL  = 1,50 м/с"},
      {u"####", 0, kC, u""},
      {u"no field", -3, kC, u"no field"},
  };
  for (const Case& c : cases) {
    const QString pattern = QString::fromUtf16(c.pattern);
    EXPECT_EQ(FormatNumber(pattern, c.value, c.locale), QString::fromUtf16(c.expected))
        << pattern.toStdString() << " " << c.value;
  }
}

TEST(RecordNumbers, BigEndianSignedAndUnsigned) {
  RecordBuilder b;
  b.U32(100, 0x80000000u).U32(104, 0xFFFFFFFFu).U32(108, 0x01020304u);
  EXPECT_EQ(ReadUInt32BE(b.record, 100), 2147483648u);
  EXPECT_EQ(ReadInt32BE(b.record, 100), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(ReadInt32BE(b.record, 104), -1);
  EXPECT_EQ(ReadUInt32BE(b.record, 108), 0x01020304u);
  // Outside the record: 0, no read past the end.
  EXPECT_EQ(ReadUInt32BE(b.record, 4093), 0u);
  EXPECT_EQ(ReadUInt32BE(b.record, -1), 0u);
}

TEST(RecordText, EndsAtZeroOrFieldEndAndDecodesCp1251) {
  RecordBuilder b;
  b.Text(2, "ABCD").Byte(6, 0).Text(7, "XYZ");                // zero at offset 6
  b.Text(11, QByteArray("\xC4\xE0\xF2\xE0 12345678901234"));  // 17 bytes, no zero
  b.Text(28, "DEV");                                          // next field starts right after
  EXPECT_EQ(RecordText(b.record, 2, 9), u"ABCD");
  EXPECT_EQ(RecordText(b.record, 11, 17), u"Дата 123456789012");
  EXPECT_EQ(RecordText(b.record, 4090, 17), u"");  // clipped to the record
  FileRecord full;
  full.fill('A');
  EXPECT_EQ(RecordText(full, 4090, 17), u"AAAAAA");
}

TEST(RecordText, EveryByteDecodesToOneCharacter) {
  std::array<std::uint8_t, 256> all;
  for (int i = 0; i < 256; ++i) all[std::size_t(i)] = std::uint8_t(i);
  const QString text = DecodeWindows1251(all);
  ASSERT_EQ(text.size(), 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(text[i], Windows1251Char(std::uint8_t(i))) << i;
  EXPECT_EQ(text[0xC0], QChar(0x0410));  // А
  EXPECT_EQ(text[0xA8], QChar(0x0401));  // Ё
  EXPECT_EQ(text[0xB9], QChar(0x2116));  // №

  // The table is the code page as Qt's converter knows it, but for the undefined 0x98.
  QStringDecoder qt("windows-1251");
  KD735_NEED(qt.isValid(), "Qt's Windows-1251 converter (ICU)");
  const QString expected =
      qt.decode(QByteArrayView(reinterpret_cast<const char*>(all.data()), qsizetype(all.size())));
  ASSERT_EQ(expected.size(), 256);
  for (int i = 0; i < 256; ++i)
    if (i != 0x98) {
      EXPECT_EQ(text[i], expected[i]) << i;
    }
}

// Control characters from an instrument file never reach a terminal or a list: ESC, BEL, CR,
// LF, DEL and the C1 range show as U+FFFD in every field text; the undefined byte 0x98 of the
// code page decodes to U+FFFD, not to the C1 control U+0098.
TEST(RecordText, ControlCharactersShowAsReplacement) {
  const QChar r = QChar::ReplacementCharacter;
  EXPECT_EQ(DecodeWindows1251(std::array<std::uint8_t, 1>{0x98}), QString(r));
  EXPECT_EQ(Windows1251Char(0x98), r);
  struct Case {
    QByteArray bytes;
    const char16_t* shown;  // '#' stands for U+FFFD
  };
  const Case cases[] = {
      {"\x1B]0;x\x07", u"#]0;x#"},                        // sets a terminal title
      {"a\rb\nc", u"a#b#c"},       {"\x1B[2J", u"#[2J"},  // clears the screen
      {"\x7F\x98\x01", u"###"},    {"\t\xC0", u"#А"},     // a letter stays a letter
  };
  for (const Case& c : cases) {
    RecordBuilder b = RecordBuilder::Measurement();
    b.Text(field::kDeviceNumber, c.bytes.leftJustified(field::kDeviceNumberWidth, '\0'));
    b.Text(field::kFileName, c.bytes.leftJustified(8, '\0', true));
    const QString shown = QString::fromUtf16(c.shown).replace(u'#', r);
    EXPECT_EQ(RecordText(b.record, field::kDeviceNumber, field::kDeviceNumberWidth), shown);
    EXPECT_EQ(InstrumentLine(b.record), QStringLiteral("КД735  ") + shown);
    const QString listName = FileListName(b.record, kRu);
    EXPECT_FALSE(std::any_of(listName.begin(), listName.end(), IsControlCharacter))
        << c.bytes.toHex().toStdString();
  }
  for (char16_t u : {0x00, 0x1F, 0x7F, 0x80, 0x9F})
    EXPECT_TRUE(IsControlCharacter(QChar(u))) << int(u);
  for (char16_t u : {0x20, 0x7E, 0xA0, 0x0410, 0xFFFD})
    EXPECT_FALSE(IsControlCharacter(QChar(u))) << int(u);
}

TEST(FileNames, ViewerAndListEntryTakeDifferentWidths) {
  RecordBuilder zero;
  zero.Text(2, "ABCD").Byte(6, 0).Text(7, "XYZ").Byte(1, 5);
  EXPECT_EQ(NameAndNumberText(zero.record, kRu), u"ABCD N005");
  EXPECT_EQ(FileListName(zero.record, kRu), u"ABCD XYZ N005");  // zero byte shows as a blank

  RecordBuilder nine;
  nine.Text(2, "123456789").Byte(1, 255).Text(11, "date");
  EXPECT_EQ(NameAndNumberText(nine.record, kRu), u"123456789 N255");
  EXPECT_EQ(FileListName(nine.record, kRu), u"12345678 N255");

  RecordBuilder empty;
  EXPECT_EQ(FileListName(empty.record, kRu), u"         N000");  // eight blanks, then " N000"

  auto m = RecordBuilder::Measurement();
  EXPECT_EQ(FileListName(m.record, kRu), u"TEST0001 N005");
}

TEST(CodeTables, KnownAndUnknownCodes) {
  EXPECT_EQ(ProbeFrequencyText(0), u"10,0МГц");
  EXPECT_EQ(ProbeFrequencyText(1), u"8,0 МГц");
  EXPECT_EQ(ProbeFrequencyText(7), u"1,25МГц");
  for (std::uint32_t code = 0; code < 8; ++code)
    EXPECT_EQ(ProbeFrequencyText(code).size(), 7) << code;
  EXPECT_EQ(ProbeFrequencyText(8), u"Неизвестна");
  EXPECT_EQ(ProbeFrequencyText(0xFFFFFFFFu), u"Неизвестна");
  EXPECT_EQ(MeasureStateText(0), MeasureStateText(3));
  EXPECT_EQ(MeasureStateText(1), u"выполнение измерений");
  EXPECT_EQ(MeasureStateText(2), u"фиксация измерений");
  EXPECT_EQ(MeasureStateText(4), u"неизвестное состояние");
  EXPECT_EQ(BscanSpeedText(2), u"МЕДЛЕННО");
  EXPECT_EQ(BscanSpeedText(3), u"неизвестно");
  EXPECT_EQ(KindHeadingText(0xC3), u"Файл НАСТРОЙКИ");
  EXPECT_EQ(KindHeadingText(0xD6), u"Файл ИЗМЕРЕНИЯ");
  EXPECT_EQ(KindHeadingText(0xE9), u"Файл В-СКАНА");
  EXPECT_EQ(KindHeadingText(0x12), u"Неизвестный Файл");
}

TEST(FieldTexts, ThicknessDependsOnState) {
  struct Case {
    std::uint32_t state;
    std::int32_t thickness;
    const char16_t* expected;
  };
  const Case cases[] = {
      {0, 1234, u"H = XXX.XX мм"}, {1, 1234, u"H = 12,34 мм"}, {2, -150, u"-H = 1,50 мм"},
      {3, 5, u"H = 0,05 мм"},      {4, 0, u"H = 0,00 мм"},
  };
  for (const Case& c : cases) {
    RecordBuilder b;
    b.U32(field::kMeasureState, c.state).I32(field::kThickness, c.thickness);
    EXPECT_EQ(ThicknessLine(b.record, kRu), QString::fromUtf16(c.expected)) << c.state;
  }
}

TEST(FieldTexts, EveryLineOfAFullRecord) {
  auto b = RecordBuilder::Bscan();
  b.U32(field::kSweepDelay, 0x80000000u).U32(field::kVelocityCL, 150);
  const RecordView r = b.record;
  EXPECT_EQ(InstrumentLine(r), u"КД735  0123");
  EXPECT_EQ(DateLine(r), u"Дата 12.03.24 10:15");
  EXPECT_EQ(NameAndNumberText(r, kRu), u"TEST0001 N005");
  EXPECT_EQ(StateLine(r), u"Состояние - фиксация измерений");
  EXPECT_EQ(ScanLengthLine(r, kRu), u"Длина сканирования Lck = 350 мм");
  EXPECT_EQ(SpeedLine(r), u"Скорость записи В-скана - СРЕДНЯЯ");
  EXPECT_EQ(RangeLowerLine(r, kRu), u"от -1,50 мм");
  EXPECT_EQ(RangeUpperLine(r, kC), u"до 20.00 мм");
  EXPECT_EQ(DelayLine(r), u"Сдвиг  2147483648 мкс");
  EXPECT_EQ(WidthLine(r), u"Ширина 250 мкс");
  EXPECT_EQ(VelocityLine(r, kRu), u" СL  = 1,50 м/с");
  EXPECT_EQ(VelocityLine(r, kRu)[1], QChar(0x0421));  // Cyrillic С
  EXPECT_EQ(VelocityLine(r, kRu)[2], QLatin1Char('L'));
  EXPECT_EQ(ProbeDelayLine(r, kRu), u" Tpep= 1,2345 мкс");
  EXPECT_EQ(ProbeLine(r), u"P112-5   N 777");
  EXPECT_EQ(FrequencyLine(r), u"Частота 5,0 МГц");
}

TEST(FieldTexts, AllOnesRecordNeverReadsPastFields) {
  FileRecord ff;
  ff.fill(0xFF);
  EXPECT_EQ(RecordText(ff, field::kFileName, field::kFileNameWidth).size(), 9);
  EXPECT_EQ(FileListName(ff, kRu).size(), 8 + 5);
  EXPECT_EQ(ThicknessLine(ff, kRu), u"-H = 0,01 мм");
  EXPECT_EQ(DelayLine(ff), u"Сдвиг  4294967295 мкс");
  EXPECT_EQ(ProbeDelayLine(ff, kRu), u" Tpep= 429496,7295 мкс");
  EXPECT_EQ(FrequencyLine(ff), u"Частота Неизвестна");
  EXPECT_EQ(RangeUpperLine(ff, kRu), u"до -0,01 мм");
}

TEST(FileContent, NewIsZeroAndCreateCopies) {
  TKD735FileContent empty;
  EXPECT_TRUE(std::all_of(empty.record.begin(), empty.record.end(), [](auto b) { return b == 0; }));
  FileRecord bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7);
  const auto content = CreateFileContent(bytes);
  EXPECT_EQ(content->record, bytes);
}

}  // namespace
}  // namespace kd735
