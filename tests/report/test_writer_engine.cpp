// The Writer engine's port calls against a live LibreOffice (one headless instance shared by the
// tests), each result read back from the .docx Writer stores: a block is one helper message and
// lands as Word would put it; a block that fails part way leaves what the port says; the summary
// follows the last table.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>

#include "files/picture.h"
#include "report/data_block.h"
#include "report/writer_engine.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"
#include "tests/report/writer_support.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::DocxReader;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);
constexpr long long kEmuPerPixel = 9525;

[[maybe_unused]] testing::SharedWriter* const kSharedWriter = testing::SharedWriter::Register();

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

// Text rows of a table below its heading row: cell texts joined by '|'.
std::vector<QString> Rows(pugi::xml_node table, std::size_t from = 1) {
  std::vector<QString> out;
  const auto rows = DocxReader::rows(table);
  for (std::size_t i = from; i < rows.size(); ++i) {
    QStringList cells;
    for (pugi::xml_node c : DocxReader::cells(rows[i])) cells << DocxReader::text(c);
    out.push_back(cells.join(u'|'));
  }
  return out;
}

class WriterEngineCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    KD735_SKIP_WITHOUT_WRITER();
    ASSERT_TRUE(dir_.isValid());
    engine_ = std::make_unique<WriterEngine>(testing::SharedWriter::Options());
  }
  void TearDown() override {
    if (!engine_ || !engine_->Begin()) return;
    CloseOutcome closed;
    EXPECT_TRUE(engine_->CloseDocuments(&closed)) << "the shared LibreOffice is left clean";
    engine_->End();
  }

  void Create(const QString& templatePath = kTemplate) {
    ASSERT_TRUE(engine_->Begin());
    const PortStatus s = engine_->CreateDocument(templatePath, &name_);
    engine_->End();
    ASSERT_TRUE(s) << s.text().toStdString();
  }
  static DataBlock Block(int table, int number, BlockFont font = {}) {
    DataBlock block;
    block.tablePosition = table;
    block.number = number;
    block.picture = RenderPicture(RecordBuilder::Measurement().record, true);
    block.lines = {u"Имя  файла  TEST0001 N005"_s, u" "_s, u"ИЗМЕРЕНИЕ"_s};
    block.font = font;
    return block;
  }
  PortStatus Send(const DataBlock& block, BlockOutcome* outcome) {
    if (auto s = engine_->Begin(); !s) return s;
    const PortStatus s = engine_->AppendBlock(block, outcome);
    engine_->End();
    return s;
  }
  // The active document as Writer stores it.
  DocxReader Result() {
    const QString path = dir_.filePath(u"result.docx"_s);
    EXPECT_TRUE(engine_->Begin());
    const PortStatus s = engine_->StoreCopy(path);
    engine_->End();
    EXPECT_TRUE(s) << s.text().toStdString();
    return DocxReader(path);
  }

  QTemporaryDir dir_;
  std::unique_ptr<WriterEngine> engine_;
  QString name_;
};

TEST_F(WriterEngineCalls, ABlockIsOneMessageAndLandsAsWordPutsIt) {
  ASSERT_NO_FATAL_FAILURE(Create());
  const BlockFont font{u"Arial"_s, 12, true, true};
  // Every call of the port is one message: Begin, each block, End.
  const std::uint64_t before = engine_->helperMessages();
  ASSERT_TRUE(engine_->Begin());
  BlockOutcome outcome;
  for (const auto& [table, number] : {std::pair{1, 1}, {1, 2}, {2, 1}}) {
    ASSERT_TRUE(engine_->AppendBlock(Block(table, number, font), &outcome));
    EXPECT_EQ(outcome.reached, BlockStage::kComplete);
    EXPECT_EQ(outcome.documentName, name_);
  }
  ASSERT_TRUE(engine_->End());
  EXPECT_EQ(engine_->helperMessages() - before, 5u);

  DocxReader r = Result();
  ASSERT_EQ(r.tables().size(), 2u);
  EXPECT_EQ(Rows(r.tables()[0]),
            (std::vector<QString>{u"1||Имя  файла  TEST0001 N005 ИЗМЕРЕНИЕ"_s,
                                  u"2||Имя  файла  TEST0001 N005 ИЗМЕРЕНИЕ"_s}));
  EXPECT_EQ(Rows(r.tables()[1]).size(), 1u);
  pugi::xml_node row = DocxReader::rows(r.tables()[0])[1];
  const auto cells = DocxReader::cells(row);
  ASSERT_EQ(cells.size(), 3u);
  const char* alignments[] = {"center", "both", "left"};
  for (std::size_t c = 0; c < 3; ++c)
    EXPECT_STREQ(cells[c].select_node(".//w:p/w:pPr/w:jc").node().attribute("w:val").value(),
                 alignments[c]);
  EXPECT_EQ(DocxReader::paragraphs(cells[2]),
            (std::vector<QString>{u"Имя  файла  TEST0001 N005"_s, u" "_s, u"ИЗМЕРЕНИЕ"_s}));
  pugi::xpath_node_set inlines = cells[1].select_nodes(".//wp:inline");
  ASSERT_EQ(inlines.size(), 1u);
  pugi::xml_node extent = inlines[0].node().child("wp:extent");
  EXPECT_EQ(extent.attribute("cx").as_llong(), 134 * kEmuPerPixel);
  EXPECT_EQ(extent.attribute("cy").as_llong(), 70 * kEmuPerPixel);
  EXPECT_EQ(r.picture(inlines[0].node().select_node(".//a:blip").node())
                .convertToFormat(QImage::Format_RGB32),
            Block(1, 1).picture.convertToFormat(QImage::Format_RGB32));
  for (pugi::xpath_node run : cells[2].select_nodes(".//w:r[w:t]")) {
    pugi::xml_node rPr = run.node().child("w:rPr");
    EXPECT_STREQ(rPr.child("w:rFonts").attribute("w:ascii").value(), "Arial");
    EXPECT_STREQ(rPr.child("w:sz").attribute("w:val").value(), "24");
    EXPECT_TRUE(rPr.child("w:b"));
    EXPECT_TRUE(rPr.child("w:i"));
  }
}

// A block that fails part way leaves what Word would have done by then, and says how far it got.
TEST_F(WriterEngineCalls, AFailedBlockLeavesWhatWasDoneAndSaysHowFar) {
  const QString twoColumns = TemplateWith(dir_.filePath(u"two.docx"_s), [](pugi::xml_node body) {
    pugi::xml_node table = body.child("w:tbl");
    table.child("w:tblGrid").remove_child(table.child("w:tblGrid").last_child());
    table.child("w:tr").remove_child(table.child("w:tr").last_child());
  });
  ASSERT_FALSE(twoColumns.isEmpty());
  struct Case {
    const char* what;
    QString templatePath;
    int table;
    QString error;
    BlockStage reached;
    std::vector<QString> rows;  // of table 1 afterwards
  } cases[] = {
      {"no table at the position",
       kTemplate,
       3,
       u"нет таблицы с номером 3"_s,
       BlockStage::kNone,
       {}},
      {"a table with two columns",
       twoColumns,
       1,
       u"нет ячейки (2, 3)"_s,
       BlockStage::kPictureCell,
       {u"7|"_s}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NO_FATAL_FAILURE(Create(c.templatePath));
    BlockOutcome outcome;
    const PortStatus s = Send(Block(c.table, 7), &outcome);
    EXPECT_EQ(s.kind(), PortStatus::Kind::kFailed);
    EXPECT_TRUE(s.text().contains(c.error)) << s.text().toStdString();
    EXPECT_EQ(outcome.reached, c.reached);
    EXPECT_FALSE(outcome.noDocument);
    DocxReader r = Result();
    EXPECT_EQ(Rows(r.tables().at(0)), c.rows);
    if (c.reached == BlockStage::kPictureCell) {
      EXPECT_EQ(DocxReader::rows(r.tables()[0])[1].select_nodes(".//wp:inline").size(), 1u);
    }
  }

  // Without a document nothing is done, and that is no error.
  ASSERT_TRUE(engine_->Begin());
  CloseOutcome closed;
  ASSERT_TRUE(engine_->CloseDocuments(&closed));
  engine_->End();
  BlockOutcome outcome;
  EXPECT_TRUE(Send(Block(1, 1), &outcome));
  EXPECT_TRUE(outcome.noDocument);
  EXPECT_EQ(outcome.reached, BlockStage::kNone);
}

// The summary: after the document's last table a heading and a two-column table of the
// statistics; in a document without tables, at the end of the text.
TEST_F(WriterEngineCalls, TheSummaryFollowsTheLastTable) {
  const QString noTables = TemplateWith(dir_.filePath(u"plain.docx"_s), [](pugi::xml_node body) {
    while (pugi::xml_node t = body.child("w:tbl")) body.remove_child(t);
  });
  ASSERT_FALSE(noTables.isEmpty());
  SummaryTable summary;
  summary.heading = u"Сводка измерений"_s;
  summary.rows = {{u"Число измерений"_s, u"3"_s}, {u"Среднее"_s, u"12,34 мм"_s}};
  summary.font = BlockFont{u"Arial"_s, 11, false, false};
  for (const QString& t : {kTemplate, noTables}) {
    SCOPED_TRACE(t.toStdString());
    ASSERT_NO_FATAL_FAILURE(Create(t));
    const std::size_t tablesBefore = DocxReader(t).tables().size();
    BlockOutcome block;
    if (tablesBefore > 0) {
      ASSERT_TRUE(Send(Block(1, 1), &block));
    }
    ASSERT_TRUE(engine_->Begin());
    SummaryOutcome outcome;
    const PortStatus s = engine_->AppendSummary(summary, &outcome);
    engine_->End();
    ASSERT_TRUE(s) << s.text().toStdString();
    EXPECT_EQ(outcome.documentName, name_);

    DocxReader r = Result();
    ASSERT_EQ(r.tables().size(), tablesBefore + 1);
    pugi::xml_node table = r.tables().back();
    EXPECT_EQ(Rows(table, 0),
              (std::vector<QString>{u"Число измерений|3"_s, u"Среднее|12,34 мм"_s}));
    // Right before it the heading; nothing but empty paragraphs after it.
    pugi::xml_node heading = table.previous_sibling("w:p");
    EXPECT_EQ(DocxReader::text(heading), summary.heading);
    for (pugi::xml_node n = table.next_sibling(); n; n = n.next_sibling()) {
      EXPECT_TRUE(std::string(n.name()) != "w:p" || DocxReader::text(n).isEmpty())
          << DocxReader::text(n).toStdString();
    }
    if (tablesBefore > 0) {
      EXPECT_EQ(Rows(r.tables()[0]).size(), 1u) << "the block table is unchanged";
    }
  }
}

TEST_F(WriterEngineCalls, WhereAndStoreCopy) {
  ASSERT_NO_FATAL_FAILURE(Create());
  ASSERT_TRUE(engine_->Begin());
  DocumentPlace place;
  ASSERT_TRUE(engine_->Where(&place));
  EXPECT_EQ(place.name, name_);
  EXPECT_TRUE(place.file.isEmpty());
  EXPECT_FALSE(place.shownToUser) << "a headless Writer shows nothing";
  const QString text = dir_.filePath(u"report.txt"_s);
  PortStatus s = engine_->StoreCopy(text);
  EXPECT_TRUE(s.text().startsWith(u"Формат файла"_s)) << s.text().toStdString();
  const QString missing = dir_.filePath(u"no/such/folder/report.docx"_s);
  s = engine_->StoreCopy(missing);
  EXPECT_TRUE(s.text().contains(missing)) << s.text().toStdString();
  engine_->End();
  EXPECT_FALSE(QFileInfo::exists(text));
}

}  // namespace
}  // namespace kd735
