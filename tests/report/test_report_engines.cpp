// The report actions against both engines: the same cases for the .docx engine and for a live
// LibreOffice Writer, each result read back from a .docx file (Writer's stored by Writer).
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "files/picture.h"
#include "report/docx_engine.h"
#include "report/word_backend.h"
#include "report/word_report.h"
#include "report/writer_engine.h"
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
const QLocale kRu(QLocale::Russian, QLocale::Russia);
constexpr long long kEmuPerPixel = 9525;

[[maybe_unused]] testing::SharedWriter* const kSharedWriter = testing::SharedWriter::Register();

class RecordingFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage& message) override { messages.push_back(message); }
  void SetStatusText(const QString& text) override { statuses << text; }
  std::vector<ReportMessage> messages;
  QStringList statuses;
};

// A run property switched on: present, and not switched off by its value.
bool IsOn(pugi::xml_node property) {
  if (!property) return false;
  const std::string v = property.attribute("w:val").value();
  return v != "0" && v != "false" && v != "off";
}

// Rows of a table below its heading row.
struct Row {
  QString number;
  std::vector<QString> lines;
  pugi::xml_node node;
  std::vector<pugi::xml_node> cells;
};

std::vector<Row> BlockRows(pugi::xml_node table) {
  std::vector<Row> out;
  auto rows = DocxReader::rows(table);
  for (size_t i = 1; i < rows.size(); ++i) {
    Row r;
    r.node = rows[i];
    r.cells = DocxReader::cells(rows[i]);
    r.number = DocxReader::text(r.cells.at(0));
    if (r.cells.size() > 2) r.lines = DocxReader::paragraphs(r.cells[2]);
    out.push_back(r);
  }
  return out;
}

std::vector<QString> Lines(const QStringList& l) { return {l.begin(), l.end()}; }

std::string Alignment(pugi::xml_node cell) {
  return cell.select_node(".//w:p/w:pPr/w:jc").node().attribute("w:val").value();
}

// A copy of the default template with its document part changed by `edit`.
QString TemplateWith(const QString& path, const std::function<void(pugi::xml_node body)>& edit) {
  DocxReader source(kTemplate);
  pugi::xml_document doc;
  const std::string& xml = source.raw("word/document.xml");
  doc.load_buffer(xml.data(), xml.size(),
                  pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration);
  edit(doc.document_element().child("w:body"));
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  return source.WriteWith(path, {{"word/document.xml", out.str()}}) ? path : QString();
}

class ReportOnEngine : public ::testing::TestWithParam<WordBackend> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    if (GetParam() == WordBackend::kWriter) {
      KD735_SKIP_WITHOUT_WRITER();
      auto writer = std::make_unique<WriterEngine>(testing::SharedWriter::Options());
      writer_ = writer.get();
      word_ = std::move(writer);
    } else {
      DocxEngineOptions options;
      options.reportsFolder = dir_.filePath(u"reports"_s);
      options.openFile = [](const QString&) { return true; };
      auto docx = std::make_unique<DocxEngine>(options);
      docx_ = docx.get();
      word_ = std::move(docx);
    }
    report_ = std::make_unique<WordReport>(*word_, clipboard_, feedback_);
    report_->SetLocale(kRu);
    report_->SetToday([] { return QDate(2026, 12, 10); });
  }
  void TearDown() override {
    // The shared LibreOffice is left clean: what the test made is kept and closed.
    if (writer_) {
      const PortStatus ended = writer_->Shutdown();
      EXPECT_TRUE(ended.ok()) << ended.text().toStdString();
    }
  }

  bool Create(const QString& templatePath = kTemplate) {
    return report_->CreateWordDocument(templatePath, settings_, u"КД735 <№12> & \"Цех\""_s);
  }
  bool Send(BlockKind kind, const RecordBuilder& record) {
    const TKD735FileContent content{record.record};
    return report_->SendSelectedFile(kind, &content, settings_);
  }
  // The active document as a .docx: the engine's own file, or what Writer stores.
  QString ResultFile() {
    if (docx_) return docx_->ActiveDocumentPath();
    const QString path = dir_.filePath(u"result.docx"_s);
    const PortStatus saved = StoreCopy(path);
    EXPECT_TRUE(saved.ok()) << saved.text().toStdString();
    return path;
  }
  // A copy of Writer's active document, as the report session stores one.
  PortStatus StoreCopy(const QString& path) {
    if (PortStatus s = writer_->Begin(); !s) return s;
    const PortStatus stored = writer_->StoreCopy(path);
    writer_->End();
    return stored;
  }

  QTemporaryDir dir_;
  PictureClipboard clipboard_;
  std::unique_ptr<ReportPort> word_;
  DocxEngine* docx_ = nullptr;
  WriterEngine* writer_ = nullptr;
  RecordingFeedback feedback_;
  std::unique_ptr<WordReport> report_;
  ReportSettings settings_;
};

TEST_P(ReportOnEngine, TheVariablesAreFilledAndShownByTheFields) {
  settings_.documentNumber = 41;
  ASSERT_TRUE(Create());
  EXPECT_EQ(settings_.documentNumber, 42);
  EXPECT_TRUE(report_->ReportStatusText().startsWith(u"Открыт документ Word -"_s))
      << report_->ReportStatusText().toStdString();
  DocxReader r(ResultFile());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.docVar(u"NUMBER"_s), u"0042"_s);
  EXPECT_EQ(r.docVar(u"TIMEDATA"_s), u"10.12.2026"_s);
  EXPECT_EQ(r.docVar(u"DEVNUM"_s), u"КД735 <№12> & \"Цех\""_s);
  const auto paras = DocxReader::paragraphs(r.body());
  EXPECT_EQ(paras.at(1), u"Номер документа: 0042"_s);
  EXPECT_EQ(paras.at(2), u"Дата: 10.12.2026"_s);
  EXPECT_EQ(paras.at(3), u"Прибор: КД735 <№12> & \"Цех\""_s);
  EXPECT_TRUE(feedback_.messages.empty());
}

TEST_P(ReportOnEngine, BlocksGetRunningNumbersPictureAndTheLinesInTheChosenFont) {
  ASSERT_TRUE(Create());
  auto m1 = RecordBuilder::Measurement();
  auto m2 = RecordBuilder::Measurement();
  m2.Byte(field::kFileNumber, 6).I32(field::kThickness, -150);
  auto b1 = RecordBuilder::Bscan();
  settings_.font = BlockFont{u"Arial"_s, 12, true, true};
  ASSERT_TRUE(Send(BlockKind::Measure, m1));
  ASSERT_TRUE(Send(BlockKind::Measure, m2));
  ASSERT_TRUE(Send(BlockKind::Bscan, b1));
  EXPECT_TRUE(feedback_.messages.empty());
  EXPECT_TRUE(report_->ReportStatusText().endsWith(u" добавлен блок данных."_s));

  DocxReader r(ResultFile());
  ASSERT_EQ(r.tables().size(), 2u);
  auto measure = BlockRows(r.tables()[0]);
  auto bscan = BlockRows(r.tables()[1]);
  ASSERT_EQ(measure.size(), 2u);
  ASSERT_EQ(bscan.size(), 1u);
  EXPECT_EQ(measure[0].number, u"1"_s);
  EXPECT_EQ(measure[1].number, u"2"_s);
  EXPECT_EQ(bscan[0].number, u"1"_s);
  EXPECT_EQ(measure[0].lines, Lines(BuildMeasureBlock(m1.record, settings_, kRu).lines));
  EXPECT_EQ(measure[1].lines, Lines(BuildMeasureBlock(m2.record, settings_, kRu).lines));
  EXPECT_EQ(bscan[0].lines, Lines(BuildBscanBlock(b1.record, settings_, kRu).lines));

  const QImage pictures[] = {RenderPicture(m1.record, true), RenderPicture(m2.record, true),
                             RenderPicture(b1.record, true)};
  const Row rows[] = {measure[0], measure[1], bscan[0]};
  for (int i = 0; i < 3; ++i) {
    const Row& row = rows[i];
    EXPECT_EQ(Alignment(row.cells[0]), "center");
    EXPECT_EQ(Alignment(row.cells[1]), "both");
    EXPECT_EQ(Alignment(row.cells[2]), "left");
    pugi::xpath_node_set inlines = row.cells[1].select_nodes(".//wp:inline");
    ASSERT_EQ(inlines.size(), 1u);
    pugi::xml_node extent = inlines[0].node().child("wp:extent");
    EXPECT_EQ(extent.attribute("cx").as_llong(), 134 * kEmuPerPixel);
    EXPECT_EQ(extent.attribute("cy").as_llong(), 70 * kEmuPerPixel);
    EXPECT_EQ(r.picture(inlines[0].node().select_node(".//a:blip").node())
                  .convertToFormat(QImage::Format_RGB32),
              pictures[i].convertToFormat(QImage::Format_RGB32));
    pugi::xpath_node_set runs = row.cells[2].select_nodes(".//w:r[w:t]");
    ASSERT_FALSE(runs.empty());
    for (pugi::xpath_node run : runs) {
      pugi::xml_node rPr = run.node().child("w:rPr");
      EXPECT_STREQ(rPr.child("w:rFonts").attribute("w:ascii").value(), "Arial");
      EXPECT_STREQ(rPr.child("w:sz").attribute("w:val").value(), "24");
      EXPECT_TRUE(IsOn(rPr.child("w:b")));
      EXPECT_TRUE(IsOn(rPr.child("w:i")));
      const std::string color = rPr.child("w:color").attribute("w:val").value();
      EXPECT_TRUE(color.empty() || color == "auto") << color;
    }
  }
}

TEST_P(ReportOnEngine, EqualTablePositionsPutEveryBlockIntoOneTable) {
  ASSERT_TRUE(Create());
  settings_.bscan.tablePosition = 1;
  ASSERT_TRUE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  ASSERT_TRUE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  ASSERT_TRUE(Send(BlockKind::Bscan, RecordBuilder::Bscan()));
  DocxReader r(ResultFile());
  auto rows = BlockRows(r.tables().at(0));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].number, u"1"_s);
  EXPECT_EQ(rows[1].number, u"2"_s);
  EXPECT_EQ(rows[2].number, u"1"_s);
  EXPECT_EQ(rows[2].lines.at(3), u"В-скан"_s);
  EXPECT_TRUE(BlockRows(r.tables().at(1)).empty());
}

// A "send all" of many files gives one row per block in order, and no row besides them; the
// next table is untouched until its own block comes.
TEST_P(ReportOnEngine, ASendAllOfManyFilesGivesOneRowPerBlockAndNothingMore) {
  ASSERT_TRUE(Create());
  const TKD735FileContent m{RecordBuilder::Measurement().record};
  const std::vector<const TKD735FileContent*> files(21, &m);
  ASSERT_TRUE(report_->SendAllFiles(BlockKind::Measure, files, settings_));
  ASSERT_TRUE(Send(BlockKind::Bscan, RecordBuilder::Bscan()));
  DocxReader r(ResultFile());
  const auto rows = BlockRows(r.tables().at(0));
  ASSERT_EQ(rows.size(), files.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].number, QString::number(i + 1));
    EXPECT_EQ(rows[i].lines.at(3), u"ИЗМЕРЕНИЕ"_s);
  }
  EXPECT_EQ(BlockRows(r.tables().at(1)).size(), 1u);
}

TEST_P(ReportOnEngine, ATablePositionPastTheLastTableGivesTheErrorAndNoRow) {
  ASSERT_TRUE(Create());
  settings_.measure.tablePosition = 3;
  EXPECT_FALSE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  EXPECT_EQ(report_->MeasureBlockCount(), 0);
  EXPECT_EQ(report_->ReportStatusText(), u"Ошибка добавления блока данных в Word."_s);
  ASSERT_EQ(feedback_.messages.size(), 2u);
  EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Plain);
  EXPECT_FALSE(feedback_.messages[0].text.isEmpty());
  EXPECT_EQ(feedback_.messages[1],
            (ReportMessage{MessageBoxKind::Error,
                           u"Ошибка добавления блока данных в Word.\rНет такой ячейки в таблице "
                           u"или\rв документе нет таблицы с номером 3"_s}));
  DocxReader r(ResultFile());
  EXPECT_TRUE(BlockRows(r.tables().at(0)).empty());
  EXPECT_TRUE(BlockRows(r.tables().at(1)).empty());
}

TEST_P(ReportOnEngine, ATwoColumnTableGetsTheRowNumberAndPictureThenTheError) {
  const QString twoColumns = TemplateWith(dir_.filePath(u"two.docx"_s), [](pugi::xml_node body) {
    pugi::xml_node table = body.child("w:tbl");
    table.child("w:tblGrid").remove_child(table.child("w:tblGrid").last_child());
    table.child("w:tr").remove_child(table.child("w:tr").last_child());
  });
  ASSERT_FALSE(twoColumns.isEmpty());
  ASSERT_TRUE(Create(twoColumns));
  EXPECT_FALSE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  EXPECT_EQ(report_->MeasureBlockCount(), 1) << "the number stays increased";
  ASSERT_EQ(feedback_.messages.size(), 2u);
  EXPECT_FALSE(feedback_.messages[0].text.isEmpty());
  EXPECT_EQ(feedback_.messages[1].text,
            u"Ошибка добавления блока данных в Word.\rНет такой ячейки в таблице или\rв "
            u"документе нет таблицы с номером 1"_s);
  DocxReader r(ResultFile());
  auto rows = BlockRows(r.tables().at(0));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].number, u"1"_s);
  ASSERT_EQ(rows[0].cells.size(), 2u);
  EXPECT_EQ(rows[0].cells[1].select_nodes(".//wp:inline").size(), 1u);
}

TEST_P(ReportOnEngine, ANestedTableDoesNotCountAmongTheTables) {
  // A small table inside the heading cell of table 1.
  const QString nested = TemplateWith(dir_.filePath(u"nested.docx"_s), [](pugi::xml_node body) {
    pugi::xml_node cell = body.child("w:tbl").child("w:tr").last_child();
    pugi::xml_node inner = cell.append_child("w:tbl");
    inner.append_child("w:tblGrid").append_child("w:gridCol").append_attribute("w:w") = "2000";
    pugi::xml_node p = inner.append_child("w:tr").append_child("w:tc").append_child("w:p");
    p.append_child("w:r").append_child("w:t").text() = "вложенная";
    cell.append_child("w:p");  // a cell ends with a paragraph
  });
  ASSERT_FALSE(nested.isEmpty());
  ASSERT_TRUE(Create(nested));
  ASSERT_TRUE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  ASSERT_TRUE(Send(BlockKind::Bscan, RecordBuilder::Bscan()));
  settings_.measure.tablePosition = 3;
  EXPECT_FALSE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  DocxReader r(ResultFile());
  ASSERT_EQ(r.tables().size(), 2u);
  auto outer = BlockRows(r.tables()[0]);
  ASSERT_EQ(outer.size(), 1u);
  EXPECT_EQ(outer[0].lines.at(3), u"ИЗМЕРЕНИЕ"_s);
  auto bscan = BlockRows(r.tables()[1]);
  ASSERT_EQ(bscan.size(), 1u);
  EXPECT_EQ(bscan[0].lines.at(3), u"В-скан"_s);
  pugi::xml_node inner = r.tables()[0].select_node(".//w:tc/w:tbl").node();
  ASSERT_TRUE(inner);
  EXPECT_EQ(DocxReader::rows(inner).size(), 1u) << "the nested table got no row";
}

TEST_P(ReportOnEngine, WithoutADocumentNothingIsWrittenAndCloseEndsTheDocuments) {
  EXPECT_FALSE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
  EXPECT_EQ(report_->ReportStatusText(), u"Нет открытых документов Word."_s);
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Information);
  ASSERT_TRUE(Create());
  EXPECT_TRUE(report_->CloseWordDocuments());
  if (!writer_) {
    EXPECT_EQ(report_->ReportStatusText(), u"Документы Word закрыты."_s);
    return;
  }
  // Nobody could see the headless Writer's document: it is stored before it is closed, and the
  // status says where.
  const QString status = report_->ReportStatusText();
  const QString prefix = u"Документы Word закрыты. Несохраненные документы записаны: "_s;
  ASSERT_TRUE(status.startsWith(prefix)) << status.toStdString();
  DocxReader kept(status.mid(prefix.size()));
  ASSERT_TRUE(kept.ok()) << status.toStdString();
  EXPECT_EQ(kept.docVar(u"NUMBER"_s), u"0001"_s);
}

INSTANTIATE_TEST_SUITE_P(Engines, ReportOnEngine,
                         ::testing::Values(WordBackend::kDocx, WordBackend::kWriter),
                         [](const ::testing::TestParamInfo<WordBackend>& param) {
                           return param.param == WordBackend::kDocx ? "Docx" : "Writer";
                         });

// Writer's result read by the outside readers: python-docx on the stored .docx, pdftotext on the
// stored PDF.
class WriterReadBack : public ReportOnEngine {
 protected:
  void MakeReport() {
    ASSERT_TRUE(Create());
    ASSERT_TRUE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
    ASSERT_TRUE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
    ASSERT_TRUE(Send(BlockKind::Bscan, RecordBuilder::Bscan()));
  }
};

TEST_P(WriterReadBack, PythonDocxReadsVariablesRowsAndPictures) {
  MakeReport();
  const QString path = ResultFile();
  QString error;
  const std::optional<QStringList> read = testing::PythonDocxSummary(path, &error);
  KD735_NEED(read.has_value(), "python3-docx");
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  const QStringList& out = *read;
  EXPECT_TRUE(out.contains(u"var NUMBER 0001"_s)) << out.join(u'\n').toStdString();
  EXPECT_TRUE(out.contains(u"var DEVNUM КД735 <№12> & \"Цех\""_s));
  EXPECT_TRUE(out.contains(u"row 1 №|Картинка|Данные"_s));
  const QString measure =
      u"|"_s +
      BuildMeasureBlock(RecordBuilder::Measurement().record, settings_, kRu).lines.join(u'/');
  EXPECT_TRUE(out.contains(u"row 1 1|"_s + measure)) << out.join(u'\n').toStdString();
  EXPECT_TRUE(out.contains(u"row 1 2|"_s + measure));
  EXPECT_EQ(out.filter(u"row 2 1|"_s).size(), 1);
  EXPECT_EQ(out.filter(QStringLiteral("shape %1 %2").arg(134 * kEmuPerPixel).arg(70 * kEmuPerPixel))
                .size(),
            3);
}

TEST_P(WriterReadBack, PdfShowsTheValuesAndTheBlocks) {
  const QString pdftotext = QStandardPaths::findExecutable(u"pdftotext"_s);
  KD735_NEED(!pdftotext.isEmpty(), "pdftotext (poppler-utils)");
  MakeReport();
  const QString pdf = dir_.filePath(u"result.pdf"_s);
  const PortStatus saved = StoreCopy(pdf);
  ASSERT_TRUE(saved.ok()) << saved.text().toStdString();
  QProcess p;
  p.start(pdftotext, {pdf, u"-"_s});
  ASSERT_TRUE(p.waitForFinished(60000));
  ASSERT_EQ(p.exitCode(), 0);
  // pdftotext joins runs of blanks; compare with single blanks.
  const QString text = QString::fromUtf8(p.readAllStandardOutput()).simplified();
  for (const QString& want :
       {u"Номер документа: 0001"_s, u"Дата: 10.12.2026"_s, u"Прибор: КД735 <№12> & \"Цех\""_s,
        u"Имя файла TEST0001 N005"_s, u"H = 12,34 мм"_s, u"Длина сканирования Lck = 350 мм"_s,
        u"от -1,50 мм"_s})
    EXPECT_TRUE(text.contains(want)) << want.toStdString() << "\n" << text.toStdString();
}

// What only a live Writer has: the user's own edits between blocks, and its screen.
TEST_P(WriterReadBack, TablesAreLookedUpAfreshAndTheScreenShowsEveryBlockAtTheEnd) {
  ASSERT_TRUE(Create());
  const TKD735FileContent b{RecordBuilder::Bscan().record};
  const TKD735FileContent* files[] = {&b, &b, &b};
  ASSERT_TRUE(report_->SendAllFiles(BlockKind::Bscan, files, settings_));
  EXPECT_EQ(testing::RunPeer(testing::SharedWriter::Options().pipeName, u"updates"_s), "shown");
  // The user deletes the first table: the B-scan table is now table 1.
  ASSERT_EQ(testing::RunPeer(testing::SharedWriter::Options().pipeName, u"delete-table"_s), "done");
  EXPECT_FALSE(Send(BlockKind::Bscan, RecordBuilder::Bscan()));
  EXPECT_TRUE(feedback_.messages.back().text.endsWith(u"номером 2"_s));
  settings_.bscan.tablePosition = 1;
  ASSERT_TRUE(Send(BlockKind::Bscan, RecordBuilder::Bscan()));
  DocxReader r(ResultFile());
  ASSERT_EQ(r.tables().size(), 1u);
  auto rows = BlockRows(r.tables()[0]);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[3].number, u"4"_s);
}

TEST_P(WriterReadBack, TemplatesInWordsOtherFormatsOpenAsNewDocuments) {
  // A Word 97 template made by Writer itself, and the template under a .dotx name.
  ASSERT_TRUE(Create());
  const QString doc = dir_.filePath(u"Sample_KD735.doc"_s);
  ASSERT_TRUE(StoreCopy(doc).ok());
  const QString dotx = dir_.filePath(u"Sample_KD735.dotx"_s);
  ASSERT_TRUE(QFile::copy(kTemplate, dotx));
  for (const QString& t : {doc, dotx}) {
    settings_.documentNumber = 6;
    ASSERT_TRUE(Create(t)) << t.toStdString();
    EXPECT_FALSE(report_->ReportStatusText().contains(u"Sample_KD735"_s))
        << "a new untitled document, not the template itself";
    ASSERT_TRUE(Send(BlockKind::Measure, RecordBuilder::Measurement()));
    DocxReader r(ResultFile());
    EXPECT_EQ(r.docVar(u"NUMBER"_s), u"0007"_s) << t.toStdString();
    ASSERT_EQ(r.tables().size(), 2u);
    auto rows = BlockRows(r.tables()[0]);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].number, u"1"_s);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, WriterReadBack, ::testing::Values(WordBackend::kWriter),
                         [](const ::testing::TestParamInfo<WordBackend>&) { return "Writer"; });

}  // namespace
}  // namespace kd735
