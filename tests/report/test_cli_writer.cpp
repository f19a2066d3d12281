// kd735 report --writer: the same report made in LibreOffice Writer and stored as .docx or .pdf.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "files/local_file.h"
#include "tests/common/cli_runner.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"
#include "tests/report/writer_support.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::DocxReader;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);

class ReportCliWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    KD735_SKIP_WITHOUT_WRITER();
    ASSERT_TRUE(dir_.isValid());
    measure_ = dir_.filePath(u"m.KDMesuare"_s);
    bscan_ = dir_.filePath(u"b.KDBscan"_s);
    ASSERT_EQ(SaveLocalFile(RecordBuilder::Measurement().record, measure_), QString());
    ASSERT_EQ(SaveLocalFile(RecordBuilder::Bscan().record, bscan_), QString());
  }
  testing::CliRun Report(const QString& out) {
    return testing::RunKd735({u"report"_s, u"--writer"_s, u"--template"_s, kTemplate, u"--out"_s,
                              out, u"--number"_s, u"41"_s, u"--devnum"_s, u"КД735 <7>"_s,
                              u"--measure"_s, measure_, measure_, u"--bscan"_s, bscan_});
  }
  QTemporaryDir dir_;
  QString measure_, bscan_;
};

TEST_F(ReportCliWriter, StoresTheReportAsDocxAndAsPdf) {
  const QString docx = dir_.filePath(u"report.docx"_s);
  testing::CliRun r = Report(docx);
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, QString());
  DocxReader d(docx);
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d.docVar(u"NUMBER"_s), u"0042"_s);
  EXPECT_EQ(d.docVar(u"DEVNUM"_s), u"КД735 <7>"_s);
  auto tables = d.tables();
  ASSERT_EQ(tables.size(), 2u);
  auto measureRows = DocxReader::rows(tables[0]);
  ASSERT_EQ(measureRows.size(), 3u);
  EXPECT_EQ(DocxReader::text(DocxReader::cells(measureRows[2])[0]), u"2"_s);
  EXPECT_EQ(DocxReader::rows(tables[1]).size(), 2u);

  const QString pdftotext = QStandardPaths::findExecutable(u"pdftotext"_s);
  KD735_NEED(!pdftotext.isEmpty(), "pdftotext (poppler-utils)");
  const QString pdf = dir_.filePath(u"report.pdf"_s);
  r = Report(pdf);
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  QProcess p;
  p.start(pdftotext, {pdf, u"-"_s});
  ASSERT_TRUE(p.waitForFinished(60000));
  const QString text = QString::fromUtf8(p.readAllStandardOutput()).simplified();
  EXPECT_TRUE(text.contains(u"Номер документа: 0042"_s)) << text.toStdString();
  EXPECT_TRUE(text.contains(u"Прибор: КД735 <7>"_s));
  EXPECT_TRUE(text.contains(u"В-скан"_s));
}

TEST_F(ReportCliWriter, RefusesAnOutputWriterDoesNotStore) {
  const QString out = dir_.filePath(u"report.txt"_s);
  const testing::CliRun r = Report(out);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.contains(u".docx or .pdf"_s)) << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(out));
}

// Programs find the helper beside them (or in their installed layout), never at a path of the
// build tree compiled into them: a copy elsewhere, or a build folder somebody else can write
// into, must not run a kd735_writer it did not bring.
TEST_F(ReportCliWriter, ACopiedProgramRunsNoHelperOfTheBuildTree) {
  const QByteArray buildHelper =
      QByteArrayLiteral(KD735_BUILD_DIR) + "/report/writer/" + QByteArrayLiteral("kd735_writer");
  QFile cli(QStringLiteral(KD735_CLI));
  ASSERT_TRUE(cli.open(QIODevice::ReadOnly));
  EXPECT_FALSE(cli.readAll().contains(buildHelper)) << "the build path is compiled in";

  const QString copy = dir_.filePath(u"kd735"_s);
  ASSERT_TRUE(QFile::copy(QStringLiteral(KD735_CLI), copy));
  QProcess p;
  p.start(copy, {u"report"_s, u"--writer"_s, u"--template"_s, kTemplate, u"--out"_s,
                 dir_.filePath(u"copy.docx"_s), u"--measure"_s, measure_});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(u"kd735_writer"_s));
  EXPECT_FALSE(QFileInfo::exists(dir_.filePath(u"copy.docx"_s)));
}

}  // namespace
}  // namespace kd735
