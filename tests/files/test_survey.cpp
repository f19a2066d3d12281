#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <vector>

#include "files/survey.h"
#include "files/survey_export.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::RecordBuilder;

const QLocale kRussian(QLocale::Russian, QLocale::Russia);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// A reading: the state code and the thickness in hundredths.
struct Reading {
  std::uint32_t state;
  std::int32_t thickness;
};

// Owns the records the entries point to.
struct Survey {
  std::vector<TKD735FileContent> contents;
  std::vector<SurveyEntry> entries;

  explicit Survey(const std::vector<Reading>& readings) {
    contents.reserve(readings.size());
    for (const Reading& r : readings) {
      auto b = RecordBuilder::Measurement();
      b.U32(field::kMeasureState, r.state).I32(field::kThickness, r.thickness);
      contents.push_back({b.record});
    }
    for (std::size_t i = 0; i < contents.size(); ++i)
      entries.push_back({u"f%1"_s.arg(i + 1), &contents[i], {}});
  }
  SurveyTable Table(std::optional<std::int64_t> minimum = std::nullopt,
                    const QLocale& locale = kRussian) const {
    return MakeSurveyTable(SurveyKind::Measure, entries, minimum, locale);
  }
};

TEST(Survey, MeasurementRowTexts) {
  auto b = RecordBuilder::Measurement();
  b.Text(field::kProbeType,
         QByteArray("P\x1B[2J", 6));  // a record text keeps to the visible-text rule
  TKD735FileContent valid{b.record};
  b.U32(field::kMeasureState, 0);
  TKD735FileContent waiting{b.record};
  const std::vector<SurveyEntry> entries = {{u"001  TEST0001 N005"_s, &valid, u"/a/x"_s},
                                            {u"b.KDMesuare"_s, &waiting, {}}};
  const SurveyTable t = MakeSurveyTable(SurveyKind::Measure, entries, std::nullopt, kRussian);

  QStringList titles;
  for (const SurveyColumn c : t.columns) titles << SurveyColumnTitle(c);
  EXPECT_EQ(titles,
            (QStringList{u"№"_s, u"Файл"_s, u"Дата"_s, u"H, мм"_s, u"Состояние"_s, u"ПЭП"_s,
                         u"№ ПЭП"_s, u"Частота"_s, u"CL, м/с"_s, u"Tpep, мкс"_s, u"Прибор"_s}));
  ASSERT_EQ(t.RowCount(), 2);
  QStringList texts;
  for (int c = 0; c < t.ColumnCount(); ++c) texts << t.Cell(0, c).text;
  EXPECT_EQ(texts, (QStringList{u"1"_s, u"001  TEST0001 N005"_s, u"12.03.24 10:15"_s, u"12,34"_s,
                                u"фиксация измерений"_s, u"P\uFFFD[2J"_s, u"777"_s, u"5,0 МГц"_s,
                                u"5920,00"_s, u"1,2345"_s, u"0123"_s}));
  EXPECT_EQ(t.Cell(0, 3).value, 12.34);
  EXPECT_EQ(t.Cell(0, 0).value, 1.0);
  EXPECT_FALSE(t.Cell(0, 1).value);

  // State 0: no valid reading, whatever the field holds.
  const SurveyRow& w = t.rows[1];
  EXPECT_EQ(w.Cell(SurveyColumn::Thickness).text, QString());
  EXPECT_FALSE(w.Cell(SurveyColumn::Thickness).value);
  EXPECT_FALSE(w.thickness);
  EXPECT_EQ(w.Cell(SurveyColumn::State).text, u"ожидание эхосигнала");
  EXPECT_EQ(t.statistics.entries, 2);
  EXPECT_EQ(t.statistics.readings, 1);

  EXPECT_EQ(MakeSurveyTable(SurveyKind::Measure, entries, std::nullopt, kEnglish).Cell(0, 3).text,
            u"12.34");
}

TEST(Survey, BscanRowTexts) {
  TKD735FileContent scan{RecordBuilder::Bscan().record};
  const std::vector<SurveyEntry> entries = {{u"s.KDBscan"_s, &scan, {}}};
  const SurveyTable t = MakeSurveyTable(SurveyKind::Bscan, entries, std::nullopt, kRussian);
  QStringList titles, texts;
  for (int c = 0; c < t.ColumnCount(); ++c) {
    titles << SurveyColumnTitle(t.columns[c]);
    texts << t.Cell(0, c).text;
  }
  EXPECT_EQ(titles,
            (QStringList{u"№"_s, u"Файл"_s, u"Дата"_s, u"Lck, мм"_s, u"Скорость"_s, u"Hmin, мм"_s,
                         u"Hmax, мм"_s, u"ПЭП"_s, u"Частота"_s, u"Прибор"_s}));
  EXPECT_EQ(texts, (QStringList{u"1"_s, u"s.KDBscan"_s, u"12.03.24 10:15"_s, u"350"_s, u"СРЕДНЯЯ"_s,
                                u"-1,50"_s, u"20,00"_s, u"P112-5"_s, u"5,0 МГц"_s, u"0123"_s}));
  EXPECT_EQ(t.Cell(0, 5).value, -1.5);
}

// Hand-computed statistics (thicknesses in hundredths).
TEST(Survey, Statistics) {
  struct Case {
    const char* what;
    std::vector<Reading> readings;
    std::optional<std::int64_t> minimum;
    int count;
    std::int64_t min;
    int minRow;
    std::int64_t max;
    int maxRow;
    std::int64_t roundedMean;
    std::optional<double> stddev;
    QList<int> below;
  } cases[] = {
      {"state 0 left out",
       {{0, 999}, {2, 500}, {1, 300}},
       {},
       2,
       300,
       2,
       500,
       1,
       400,
       std::sqrt(20000.0),
       {}},
      {"ties name the first",
       {{2, 300}, {2, 500}, {3, 300}, {2, 500}},
       {},
       4,
       300,
       0,
       500,
       1,
       400,
       std::sqrt(40000.0 / 3),
       {}},
      {"one reading", {{2, 1234}}, {}, 1, 1234, 0, 1234, 0, 1234, {}, {}},
      {"negative values count",
       {{2, -150}, {2, 100}},
       {},
       2,
       -150,
       0,
       100,
       1,
       -25,
       std::sqrt(31250.0),
       {}},
      {"minimum between readings",
       {{2, 250}, {2, 300}, {0, 100}, {2, 249}, {2, 251}},
       250,
       4,
       249,
       3,
       300,
       1,
       263,
       std::sqrt(1877.0 / 3),
       {3}},
      {"a half rounds away from zero", {{2, 1}, {2, 2}}, {}, 2, 1, 0, 2, 1, 2, std::sqrt(0.5), {}},
      {"a negative half too", {{2, -1}, {2, -2}}, 0, 2, -2, 1, -1, 0, -2, std::sqrt(0.5), {0, 1}},
      {"no readings", {{0, 5}}, 100, 0, 0, -1, 0, -1, 0, {}, {}},
  };
  for (const Case& c : cases) {
    const SurveyTable t = Survey(c.readings).Table(c.minimum);
    const SurveyStatistics& s = t.statistics;
    SCOPED_TRACE(c.what);
    EXPECT_EQ(s.entries, int(c.readings.size()));
    EXPECT_EQ(s.readings, c.count);
    if (c.count > 0) {
      EXPECT_EQ(s.min, c.min);
      EXPECT_EQ(s.max, c.max);
      EXPECT_EQ(s.Range(), c.max - c.min);
    }
    EXPECT_EQ(s.minRow, c.minRow);
    EXPECT_EQ(s.maxRow, c.maxRow);
    EXPECT_EQ(s.RoundedMean(), c.roundedMean);
    ASSERT_EQ(s.stddev.has_value(), c.stddev.has_value());
    if (c.stddev) {
      EXPECT_NEAR(*s.stddev, *c.stddev, 1e-9);
    }
    EXPECT_EQ(s.belowRows, c.below);
    for (int i = 0; i < t.RowCount(); ++i)
      EXPECT_EQ(t.rows[std::size_t(i)].belowMinimum, c.below.contains(i)) << i;
  }
}

TEST(Survey, SummaryTexts) {
  // 2,50 / 3,00 / (no reading) / 2,49 / 2,51 with a minimum of 2,50: mean 263 hundredths.
  const Survey survey({{2, 250}, {2, 300}, {0, 100}, {2, 249}, {2, 251}});
  const QList<SurveySummaryLine> lines = SurveySummary(survey.Table(250));
  const QList<SurveySummaryLine> expected = {
      {u"Файлов"_s, u"5"_s},
      {u"Измерений"_s, u"4"_s},
      {u"Минимальная толщина"_s, u"2,49 мм (f4)"_s},
      {u"Максимальная толщина"_s, u"3,00 мм (f2)"_s},
      {u"Средняя толщина"_s, u"2,63 мм"_s},
      {u"Стандартное отклонение"_s, u"0,25 мм"_s},
      {u"Размах"_s, u"0,51 мм"_s},
      {u"Минимально допустимая толщина"_s, u"2,50 мм"_s},
      {u"Ниже допустимой"_s, u"1 (f4)"_s},
  };
  EXPECT_EQ(lines, expected);

  // Nothing to show: a dash, never a zero that looks like a reading; no deviation for one.
  const QList<SurveySummaryLine> empty = SurveySummary(Survey({{0, 300}}).Table());
  ASSERT_EQ(empty.size(), 7);
  for (int i = 2; i < 7; ++i) EXPECT_EQ(empty[i].value, u"—") << empty[i].label.toStdString();
  EXPECT_EQ(SurveySummary(Survey({{2, 300}}).Table())[5].value, u"—");
}

TEST(Survey, ParseThickness) {
  struct Case {
    QString text;
    std::optional<std::int64_t> hundredths;
  } cases[] = {
      {u"2.5"_s, 250},        {u"2,5"_s, 250}, {u"0.07"_s, 7},   {u"3"_s, 300},
      {u" 12.34 "_s, 1234},   {u"0"_s, 0},     {u"2.345"_s, {}}, {u"-1"_s, {}},
      {u"1e3"_s, {}},         {u"2."_s, {}},   {u""_s, {}},      {u"21474836.47"_s, 2147483647},
      {u"21474836.48"_s, {}}, {u"٣"_s, {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseThicknessMm(c.text), c.hundredths) << c.text.toStdString();
}

TEST(SurveyExport, CsvQuotesAndLocale) {
  auto b = RecordBuilder::Measurement();
  TKD735FileContent valid{b.record};
  const std::vector<SurveyEntry> entries = {{u"a;b \"c\"\nd\x1B"_s, &valid, {}}};
  const SurveyTable ru = MakeSurveyTable(SurveyKind::Measure, entries, std::nullopt, kRussian);
  EXPECT_EQ(DefaultCsvSeparator(kRussian), u';');
  EXPECT_EQ(DefaultCsvSeparator(kEnglish), u',');
  const QString csv = QString::fromUtf8(SurveyCsv(ru, u';'));
  EXPECT_EQ(csv,
            u"№;Файл;Дата;H, мм;Состояние;ПЭП;№ ПЭП;Частота;CL, м/с;Tpep, мкс;Прибор\r\n"
            u"1;\"a;b \"\"c\"\"\nd\uFFFD\";12.03.24 10:15;12,34;фиксация измерений;P112-5;777;"
            u"5,0 МГц;5920,00;1,2345;0123\r\n"_s);

  const SurveyTable en = MakeSurveyTable(SurveyKind::Measure, entries, std::nullopt, kEnglish);
  const QString enCsv = QString::fromUtf8(SurveyCsv(en, u','));
  // The frequency text is the system's own and holds a comma: quoted.
  EXPECT_TRUE(
      enCsv.endsWith(u",12.34,фиксация измерений,P112-5,777,\"5,0 МГц\",5920.00,1.2345,"
                     u"0123\r\n"_s))
      << enCsv.toStdString();
  EXPECT_TRUE(enCsv.startsWith(u"№,Файл,Дата,\"H, мм\""_s));
  EXPECT_FALSE(SurveyCsv(en, u',').startsWith(kUtf8Bom));
}

// Python's json module reads the document with the right types: thicknesses as floats even when
// whole, nulls where there is no reading, integers for counts and codes.
TEST(SurveyExport, JsonReadsInPython) {
  const QString python = QStandardPaths::findExecutable(u"python3"_s);
  KD735_NEED(!python.isEmpty(), "python3");
  Survey survey({{2, 1200}, {0, 5}, {2, -150}, {2, 1200}});
  survey.entries[0].text = u"x \"y\"\n\\z"_s;
  survey.entries[0].source = u"/data/x.KDMesuare"_s;
  TKD735FileContent scan{RecordBuilder::Bscan().record};
  const std::vector<SurveyEntry> scans = {{u"s"_s, &scan, {}}};
  const QByteArray json =
      SurveyJson(survey.Table(1200), MakeSurveyTable(SurveyKind::Bscan, scans, {}, kRussian));

  const char* check = R"(
import json, sys
d = json.load(sys.stdin)
assert list(d) == ["measurements", "bscans", "statistics"], list(d)
m, b, s = d["measurements"], d["bscans"], d["statistics"]
assert [r["thickness_mm"] for r in m] == [12.0, None, -1.5, 12.0]
assert type(m[0]["thickness_mm"]) is float
assert m[0]["file"] == "/data/x.KDMesuare" and m[0]["name"] == 'x "y"\n\\z', m[0]
assert m[1]["file"] == "f2" and m[1]["number"] == 2 and m[1]["state"] == 0
assert m[0]["state_text"] == "фиксация измерений" and m[0]["frequency_text"] == "5,0 МГц"
assert m[0]["velocity_m_s"] == 5920.0 and m[0]["probe_delay_us"] == 1.2345
assert m[0]["date"] == "12.03.24 10:15" and m[0]["probe"] == "P112-5"
assert m[0]["probe_number"] == "777" and m[0]["instrument"] == "0123"
assert b[0]["length_mm"] == 350 and type(b[0]["length_mm"]) is int
assert b[0]["range_min_mm"] == -1.5 and b[0]["range_max_mm"] == 20.0
assert b[0]["speed_text"] == "СРЕДНЯЯ"
assert s["entries"] == 4 and s["readings"] == 3
assert s["min_mm"] == -1.5 and s["min_file"] == "f3"
assert s["max_mm"] == 12.0 and s["max_file"] == "/data/x.KDMesuare"
assert abs(s["mean_mm"] - 7.5) < 1e-12 and type(s["mean_mm"]) is float
assert abs(s["stddev_mm"] - 7.794228634059948) < 1e-9
assert s["range_mm"] == 13.5 and s["minimum_allowed_mm"] == 12.0
assert s["below_minimum"] == ["f3"]
)";
  QProcess p;
  p.start(python, {u"-c"_s, QString::fromUtf8(check)});
  ASSERT_TRUE(p.waitForStarted());
  p.write(json);
  p.closeWriteChannel();
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString() << json.toStdString();

  // Without a minimum the list of readings below it is null, not empty; no readings: nulls.
  const QByteArray none = SurveyJson(Survey({{0, 5}}).Table(), Survey({}).Table());
  EXPECT_TRUE(none.contains("\"below_minimum\": null")) << none.toStdString();
  EXPECT_TRUE(none.contains("\"min_mm\": null")) << none.toStdString();
  EXPECT_TRUE(none.contains("\"stddev_mm\": null")) << none.toStdString();
}

}  // namespace
}  // namespace kd735
