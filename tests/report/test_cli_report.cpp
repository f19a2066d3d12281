#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "files/local_file.h"
#include "tests/common/cli_runner.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::CliRun;
using testing::DocxReader;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);

CliRun Kd735(const QStringList& args) { return testing::RunKd735(args); }

class ReportCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    measure_ = dir_.filePath(u"m.KDMesuare"_s);
    bscan_ = dir_.filePath(u"b.KDBscan"_s);
    ASSERT_EQ(SaveLocalFile(RecordBuilder::Measurement().record, measure_), QString());
    ASSERT_EQ(SaveLocalFile(RecordBuilder::Bscan().record, bscan_), QString());
    out_ = dir_.filePath(u"report.docx"_s);
  }
  QTemporaryDir dir_;
  QString measure_, bscan_, out_;
};

TEST_F(ReportCli, MakesTheDocumentAndSendsEveryFile) {
  const CliRun r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_, u"--number"_s,
                          u"41"_s, u"--devnum"_s, u"КД735 <7>"_s, u"--measure"_s, measure_,
                          measure_, u"--bscan"_s, bscan_, u"--bold"_s, u"--size"_s, u"99"_s});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(u"kd735:"_s)) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(u"добавлен блок данных."_s));
  DocxReader d(out_);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d.docVar(u"NUMBER"_s), u"0042"_s);
  EXPECT_EQ(d.docVar(u"DEVNUM"_s), u"КД735 <7>"_s);
  auto tables = d.tables();
  ASSERT_EQ(tables.size(), 2u);
  auto measureRows = DocxReader::rows(tables[0]);
  ASSERT_EQ(measureRows.size(), 3u);
  EXPECT_EQ(DocxReader::text(DocxReader::cells(measureRows[2])[0]), u"2"_s);
  auto bscanRows = DocxReader::rows(tables[1]);
  ASSERT_EQ(bscanRows.size(), 2u);
  pugi::xml_node run = DocxReader::cells(bscanRows[1])[2].select_node(".//w:r").node();
  EXPECT_STREQ(run.child("w:rPr").child("w:sz").attribute("w:val").value(), "80")
      << "the size is pulled into 2..40";
  EXPECT_STREQ(run.child("w:rPr").child("w:b").attribute("w:val").value(), "1");
}

TEST_F(ReportCli, ErrorsGiveTheMessageTexts) {
  const QString missing = dir_.filePath(u"none.doc"_s);
  CliRun r = Kd735({u"report"_s, u"--template"_s, missing, u"--out"_s, out_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(u"Файл шаблона \n"_s + missing +
                             u"\nне существует. Укажите корректное имя файла."_s))
      << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(out_));

  r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_, u"--devnum"_s, u"x"_s,
             u"--measure-table"_s, u"5"_s, u"--measure"_s, measure_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(
      r.err.contains(u"Ошибка добавления блока данных в Word.\nНет такой ячейки в "
                     u"таблице или\nв документе нет таблицы с номером 5"_s))
      << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(out_));

  // Without an instrument the document is made all the same, with the notice on stderr.
  r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.err.contains(u"Прибор КД735 не подключен"_s)) << r.err.toStdString();
  EXPECT_TRUE(DocxReader(out_).ok());

  r = Kd735({u"report"_s, u"--out"_s, out_, u"--bogus"_s});
  EXPECT_EQ(r.exitCode, 1);
}

TEST_F(ReportCli, WithoutATemplateTakesTheOneFoundBesideTheProgram) {
  // Run from the build folder, the tool finds the template the build packed.
  const CliRun r = Kd735({u"report"_s, u"--out"_s, out_, u"--measure"_s, measure_});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  DocxReader d(out_);
  ASSERT_TRUE(d.ok());
  const auto tables = d.tables();
  ASSERT_FALSE(tables.empty());
  EXPECT_EQ(DocxReader::rows(tables[0]).size(), 2u) << "the heading row and the one block";
}

}  // namespace
}  // namespace kd735
