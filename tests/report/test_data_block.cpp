#include <gtest/gtest.h>

#include <QLocale>

#include "report/data_block.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::RecordBuilder;

const QLocale kRu(QLocale::Russian, QLocale::Russia);

const QString kName = u"Имя  файла  TEST0001 N005"_s;
const QString kDate = u"Дата 12.03.24 10:15"_s;
const QStringList kTail = {u" "_s,
                           u"Развертка (А-скан)"_s,
                           u"Сдвиг  10 мкс"_s,
                           u"Ширина 250 мкс"_s,
                           u" "_s,
                           u"Параметры шкалы"_s,
                           u" СL  = 5920,00 м/с"_s,
                           u" Tpep= 1,2345 мкс"_s,
                           u" "_s,
                           u"Ультразвуковой преобразователь"_s,
                           u"P112-5   N 777"_s};

TEST(DataBlock, MeasurementLinesBySettings) {
  const auto r = RecordBuilder::Measurement();
  const ReportSettings defaults;
  const QStringList core = {u" "_s, u"ИЗМЕРЕНИЕ"_s, u"H = 12,34 мм"_s};
  const QString state = u"Состояние - фиксация измерений"_s;

  EXPECT_EQ(BuildMeasureBlock(r.record, defaults, kRu).lines,
            QStringList({kName, kDate}) + core + QStringList{state});
  EXPECT_EQ(BuildMeasureBlock(r.record, WithAllOptionalLines(defaults, false), kRu).lines, core);
  EXPECT_EQ(BuildMeasureBlock(r.record, WithAllOptionalLines(defaults, true), kRu).lines,
            QStringList({u"КД735  0123"_s, kName, kDate}) + core + QStringList{state} + kTail);

  // Only the scale group: no gap where the sweep group would be.
  ReportSettings scale = WithAllOptionalLines(defaults, false);
  scale.measure.scaleLines = true;
  EXPECT_EQ(BuildMeasureBlock(r.record, scale, kRu).lines, core + kTail.mid(4, 4));
}

TEST(DataBlock, BscanLinesBySettings) {
  const auto r = RecordBuilder::Bscan();
  const ReportSettings defaults;
  const QStringList head = {u" "_s, u"В-скан"_s, u"Длина сканирования Lck = 350 мм"_s};
  const QStringList range = {u"Диапазон толщин (согласно настройки прибора)"_s, u"от -1,50 мм"_s,
                             u"до 20,00 мм"_s};
  const QString speed = u"Скорость записи В-скана - СРЕДНЯЯ"_s;

  EXPECT_EQ(BuildBscanBlock(r.record, defaults, kRu).lines,
            QStringList({kName, kDate}) + head + QStringList{speed} + range);
  EXPECT_EQ(BuildBscanBlock(r.record, WithAllOptionalLines(defaults, false), kRu).lines,
            head + range);
  EXPECT_EQ(
      BuildBscanBlock(r.record, WithAllOptionalLines(defaults, true), kRu).lines,
      QStringList({u"КД735  0123"_s, kName, kDate}) + head + QStringList{speed} + range + kTail);
}

TEST(DataBlock, FontStateAndDocumentText) {
  auto r = RecordBuilder::Measurement();
  r.U32(field::kMeasureState, 0);
  ReportSettings s = WithAllOptionalLines(ReportSettings{}, false);
  s.font = {u"Arial"_s, 14, true, false};
  const BlockText block = BuildMeasureBlock(r.record, s, kRu);
  EXPECT_EQ(block.font, s.font);
  EXPECT_EQ(block.lines.last(), u"H = XXX.XX мм");
  EXPECT_EQ(BlockTextForDocument(block), u" \r\nИЗМЕРЕНИЕ\r\nH = XXX.XX мм\r\n");
}

TEST(DataBlock, AllOnesRecordIsSafe) {
  FileRecord ff;
  ff.fill(0xFF);
  const ReportSettings all = WithAllOptionalLines(ReportSettings{}, true);
  EXPECT_EQ(BuildMeasureBlock(ff, all, kRu).lines.size(), 18);
  EXPECT_EQ(BuildBscanBlock(ff, all, kRu).lines.size(), 21);
  EXPECT_EQ(BuildBscanBlock(ff, all, kRu).lines[1].size(), 12 + 9 + 5);
}

}  // namespace
}  // namespace kd735
