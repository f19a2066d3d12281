#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "files/local_file.h"
#include "tests/common/cli_runner.h"
#include "tests/common/file_helpers.h"
#include "tests/common/full_disk.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"

namespace kd735 {
namespace {

using testing::Put;
using testing::Read;

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
                          measure_, u"--bscan"_s, bscan_, u"--bold"_s, u"--size"_s, u"40"_s});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(u"kd735:"_s)) << r.err.toStdString();
  EXPECT_EQ(r.out, QString()) << "the report is the file; nothing goes to stdout";
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
  EXPECT_STREQ(run.child("w:rPr").child("w:sz").attribute("w:val").value(), "80");
  EXPECT_STREQ(run.child("w:rPr").child("w:b").attribute("w:val").value(), "1");
}

TEST_F(ReportCli, ErrorsGiveTheMessageTexts) {
  const QString missing = dir_.filePath(u"none.doc"_s);
  CliRun r = Kd735({u"report"_s, u"--template"_s, missing, u"--out"_s, out_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(u"kd735: report: Файл шаблона "_s + missing +
                             u" не существует. Укажите корректное имя файла.\n"_s))
      << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(out_));

  r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_, u"--devnum"_s, u"x"_s,
             u"--measure-table"_s, u"5"_s, u"--measure"_s, measure_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(
      r.err.contains(u"Ошибка добавления блока данных в Word. Нет такой ячейки в "
                     u"таблице или в документе нет таблицы с номером 5"_s))
      << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(out_));

  // Without an instrument the document is made all the same, with the notice on stderr; a
  // notice, not an error.
  r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.err.startsWith(u"kd735: report: note: Прибор КД735 не подключен"_s))
      << r.err.toStdString();
  EXPECT_TRUE(DocxReader(out_).ok());

  r = Kd735({u"report"_s, u"--out"_s, out_, u"--bogus"_s});
  EXPECT_EQ(r.exitCode, 2);
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

// A failed template says what is wrong with it; the tool never uses Word, so it does not guess
// that Word is missing.
TEST_F(ReportCli, TemplateFailuresSayWhatIsWrong) {
  const QString half = dir_.filePath(u"half.docx"_s);
  Put(half, Read(kTemplate).left(2000));
  CliRun r = Kd735({u"report"_s, u"--template"_s, half, u"--out"_s, out_, u"--devnum"_s, u"x"_s});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(u"half.docx"_s) && r.err.contains(u".docx ("_s))
      << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(u"MS Word"_s)) << r.err.toStdString();
  EXPECT_FALSE(r.out.contains(u"Word"_s)) << r.out.toStdString();

  r = Kd735({u"report"_s, u"--template"_s, dir_.path(), u"--out"_s, out_});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(dir_.path() + u": is a directory"_s)) << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(out_));
}

TEST_F(ReportCli, NumericOptionsOutOfRangeAreRefusedNamingTheRange) {
  struct Case {
    QString option, value, range;
  } cases[] = {
      {u"--size"_s, u"abc"_s, u"from 2 to 40"_s},
      {u"--size"_s, u"99"_s, u"from 2 to 40"_s},
      {u"--measure-table"_s, u"10"_s, u"from 1 to 9"_s},
      {u"--bscan-table"_s, u"0"_s, u"from 1 to 9"_s},
      {u"--number"_s, u"-1"_s, u"from 0 to 1000000"_s},
      {u"--number"_s, u"12x"_s, u"from 0 to 1000000"_s},
  };
  for (const Case& c : cases) {
    const CliRun r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_, c.option,
                            c.value, u"--measure"_s, measure_});
    EXPECT_EQ(r.exitCode, 2) << c.option.toStdString();
    EXPECT_TRUE(r.err.contains(c.option + u" must be a whole number "_s + c.range))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(u"'"_s + c.value + u"'"_s)) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out_));
  }
}

// A .pdf is a PDF whichever engine makes it, or no file at all; a summary that cannot be made
// yet is refused rather than left out of a report that looks complete.
TEST_F(ReportCli, APdfOfEitherEngineAndTheSummaryAfterTheBlocks) {
  if (!QStandardPaths::findExecutable(u"soffice"_s).isEmpty()) {
    const QString pdf = dir_.filePath(u"report.pdf"_s);
    CliRun r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, pdf, u"--devnum"_s,
                      u"x"_s, u"--measure"_s, measure_});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(Read(pdf).startsWith("%PDF-"));
  }

  CliRun r =
      Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, out_, u"--devnum"_s, u"x"_s,
             u"--summary"_s, u"--min"_s, u"20,5"_s, u"--measure"_s, measure_, measure_});
  ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.isEmpty());
  DocxReader doc(out_);
  ASSERT_EQ(doc.tables().size(), 3u) << "the two block tables and the summary";
  EXPECT_EQ(DocxReader::rows(doc.tables()[0]).size(), 3u);
  QStringList labels;
  QString below;
  for (pugi::xml_node row : DocxReader::rows(doc.tables()[2])) {
    const auto cells = DocxReader::cells(row);
    ASSERT_EQ(cells.size(), 2u);
    labels << DocxReader::text(cells[0]);
    if (labels.back() == u"Ниже допустимой"_s) below = DocxReader::text(cells[1]);
  }
  EXPECT_EQ(labels, (QStringList{u"Файлов"_s, u"Измерений"_s, u"Минимальная толщина"_s,
                                 u"Максимальная толщина"_s, u"Средняя толщина"_s,
                                 u"Стандартное отклонение"_s, u"Размах"_s,
                                 u"Минимально допустимая толщина"_s, u"Ниже допустимой"_s}));
  EXPECT_TRUE(below.startsWith(u"2"_s)) << below.toStdString();
  const auto paragraphs = DocxReader::paragraphs(doc.body());
  EXPECT_NE(std::find(paragraphs.begin(), paragraphs.end(), u"Сводка измерений"_s),
            paragraphs.end());
}

// The report is never written over what it is made from, nor over a pipe (which would block the
// tool) or a device node (which it would turn into a file).
TEST_F(ReportCli, OutputNeverReplacesAnInputADeviceOrAPipe) {
  const QString templateCopy = dir_.filePath(u"template.docx"_s);
  ASSERT_TRUE(QFile::copy(kTemplate, templateCopy));
  const QByteArray templateBytes = Read(templateCopy), measureBytes = Read(measure_);
  CliRun r = Kd735({u"report"_s, u"--template"_s, templateCopy, u"--out"_s, templateCopy});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(u"input"_s)) << r.err.toStdString();
  const QString measureDocx = dir_.filePath(u"m.docx"_s);  // an input named like a report
  ASSERT_TRUE(QFile::copy(measure_, measureDocx));
  r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, measureDocx, u"--measure"_s,
             measureDocx});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Read(templateCopy), templateBytes);
  EXPECT_EQ(Read(measureDocx), measureBytes);

  const QString fifo = dir_.filePath(u"fifo.docx"_s);
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, fifo});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.contains(fifo + u": not a regular file"_s)) << r.err.toStdString();
  EXPECT_FALSE(QFileInfo(fifo).isFile());
  if (::geteuid() == 0) {  // only root makes device nodes, and only root could replace one
    const QString node = dir_.filePath(u"full.docx"_s);
    ASSERT_EQ(::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0600, makedev(1, 7)), 0);
    r = Kd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, node});
    EXPECT_EQ(r.exitCode, 1);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(node).constData(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
  }
}

// On a full disk the tool fails, says why, naming the file, and the good report that was there
// stays as it was.
TEST_F(ReportCli, FullDiskKeepsTheOldReportAndFails) {
  testing::FullFolder full;
  ASSERT_TRUE(full.valid());
  const QString old = full.filePath(u"report.docx"_s);
  Put(old, "a good report");
  full.Fill();
  const CliRun r = testing::RunKd735({u"report"_s, u"--template"_s, kTemplate, u"--out"_s, old,
                                      u"--devnum"_s, u"x"_s, u"--measure"_s, measure_},
                                     [&](QProcess& p) { full.Prepare(p); });
  EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
  // Under the file-size limit (no tmpfs) the tool's working copy fails first, naming that file.
  EXPECT_TRUE(r.err.contains((full.mounted() ? old : u".docx"_s) + u": "_s + full.Reason()))
      << r.err.toStdString();
  EXPECT_EQ(Read(old), "a good report");
  EXPECT_EQ(full.Entries(), QStringList{u"report.docx"_s});
}

}  // namespace
}  // namespace kd735
