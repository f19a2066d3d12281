#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

#include <zip.h>

#include "report/docx_engine.h"
#include "tests/common/requirements.h"
#include "tests/report/docx_reader.h"

namespace kd735 {
namespace {

using testing::DocxReader;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);
constexpr long long kEmuPerPixel = 9525;

QImage TestPicture(int w = 134, int h = 70, QRgb color = qRgb(0, 0, 0)) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(Qt::white);
  for (int x = 0; x < w; ++x) img.setPixel(x, x % h, color);
  return img;
}

class DocxEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    DocxEngineOptions options;
    options.reportsFolder = dir_.filePath(QStringLiteral("reports"));
    options.openFile = [this](const QString& path) {
      opened_ << path;
      openedExisted_ = QFileInfo::exists(path);
      return openResult_;
    };
    word_ = std::make_unique<DocxEngine>(options);
  }

  PortStatus Create(const QString& path, QString* name = nullptr) {
    QString made;
    PortStatus s = word_->CreateDocument(path, &made);
    if (name) *name = made;
    return s;
  }
  // Begins an action and makes a document from the default template.
  void NewDocument() {
    EXPECT_TRUE(word_->Begin());
    PortStatus s = Create(kTemplate);
    EXPECT_TRUE(s) << s.text().toStdString();
  }
  PortStatus Block(const DataBlock& block, BlockOutcome* outcome = nullptr) {
    BlockOutcome ignored;
    return word_->AppendBlock(block, outcome ? outcome : &ignored);
  }

  QTemporaryDir dir_;
  std::unique_ptr<DocxEngine> word_;
  QStringList opened_;
  bool openedExisted_ = false;
  bool openResult_ = true;
};

TEST(DocxTemplate, HasTheThreeFieldsAndTwoBlockTables) {
  DocxReader t(kTemplate);
  ASSERT_TRUE(t.ok());
  ASSERT_TRUE(t.body());
  EXPECT_EQ(DocxReader::paragraphs(t.body()).front(),
            QStringLiteral("Отчет ультразвукового толщиномера КД735"));
  std::set<std::string> vars;
  for (pugi::xpath_node n : t.body().select_nodes(".//w:instrText | .//w:fldSimple/@w:instr")) {
    std::string instr = n.node() ? n.node().text().get() : n.attribute().value();
    if (instr.find("DOCVARIABLE") != std::string::npos) vars.insert(instr);
  }
  EXPECT_EQ(vars.size(), 3u);
  const std::string all = t.raw("word/document.xml");
  for (const char* v : {"DOCVARIABLE NUMBER", "DOCVARIABLE TIMEDATA", "DOCVARIABLE DEVNUM"})
    EXPECT_NE(all.find(v), std::string::npos) << v;

  auto tables = t.tables();
  ASSERT_EQ(tables.size(), 2u);
  for (pugi::xml_node table : tables) {
    auto rows = DocxReader::rows(table);
    ASSERT_EQ(rows.size(), 1u);
    auto cells = DocxReader::cells(rows[0]);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(DocxReader::text(cells[0]), QStringLiteral("№"));
    EXPECT_EQ(DocxReader::text(cells[1]), QStringLiteral("Картинка"));
    EXPECT_EQ(DocxReader::text(cells[2]), QStringLiteral("Данные"));
    // The picture column holds 134 pixels (at 96 per inch, 15 twips each) plus the cell margins.
    auto cols = table.child("w:tblGrid").children("w:gridCol");
    auto it = cols.begin();
    ++it;
    EXPECT_GE(it->attribute("w:w").as_int(), 134 * 15 + 2 * 108);
  }
}

TEST_F(DocxEngineTest, DocumentsAreNumberedKeptOnDiskAndClosedWithTheLastOneShown) {
  QString name;
  EXPECT_FALSE(Create(kTemplate)) << "no call works outside an action";
  ASSERT_TRUE(word_->Begin());
  EXPECT_EQ(word_->DocumentCount(), 0);
  DocumentPlace place;
  EXPECT_FALSE(word_->Where(&place));

  QString name1, name2;
  ASSERT_TRUE(Create(kTemplate, &name1));
  const QString first = word_->ActiveDocumentPath();
  ASSERT_TRUE(Create(kTemplate, &name2));
  EXPECT_EQ(word_->DocumentCount(), 2);
  EXPECT_EQ(name1, QStringLiteral("Sample_KD735_1.docx"));
  EXPECT_EQ(name2, QStringLiteral("Sample_KD735_2.docx"));
  ASSERT_TRUE(word_->Where(&place));
  EXPECT_EQ(place.name, name2);
  EXPECT_EQ(QFileInfo(place.file).fileName(), name2);
  EXPECT_FALSE(place.shownToUser);
  ASSERT_TRUE(word_->End());
  EXPECT_TRUE(DocxReader(first).ok());
  EXPECT_TRUE(DocxReader(place.file).ok());

  ASSERT_TRUE(word_->Begin());
  CloseOutcome closed;
  ASSERT_TRUE(word_->CloseDocuments(&closed));
  EXPECT_EQ(closed.documents, 2);
  EXPECT_TRUE(closed.keptFiles.isEmpty()) << "every document is a file already";
  ASSERT_EQ(opened_.size(), 1);
  EXPECT_EQ(QFileInfo(opened_[0]).fileName(), name2);
  EXPECT_TRUE(openedExisted_);
  EXPECT_EQ(word_->DocumentCount(), 0);
  ASSERT_TRUE(word_->CloseDocuments(&closed));
  EXPECT_EQ(closed.documents, 0);
  ASSERT_TRUE(word_->End());
  EXPECT_TRUE(QFileInfo::exists(place.file));

  // A new run of the engine does not overwrite the reports already in the folder.
  ASSERT_TRUE(word_->Begin());
  ASSERT_TRUE(Create(kTemplate, &name));
  EXPECT_EQ(name, QStringLiteral("Sample_KD735_3.docx"));
  ASSERT_TRUE(word_->End());
}

TEST_F(DocxEngineTest, ClosingReportsAFailureToShowTheReportAndKeepsTheDocuments) {
  NewDocument();
  openResult_ = false;
  CloseOutcome closed;
  PortStatus s = word_->CloseDocuments(&closed);
  EXPECT_FALSE(s);
  EXPECT_FALSE(s.text().isEmpty());
  EXPECT_EQ(word_->DocumentCount(), 1);
  word_->End();
}

TEST_F(DocxEngineTest, VariablesAndFieldResultsHoldTheValues) {
  const QString devnum = QStringLiteral("КД735 №12 <&> \"тест\"");
  NewDocument();
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0001")},
                                    {QStringLiteral("TIMEDATA"), QStringLiteral("10.12.2026")},
                                    {QStringLiteral("DEVNUM"), devnum}}));
  ASSERT_TRUE(word_->End());

  DocxReader r(word_->ActiveDocumentPath());
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.docVar(QStringLiteral("NUMBER")), QStringLiteral("0001"));
  EXPECT_EQ(r.docVar(QStringLiteral("TIMEDATA")), QStringLiteral("10.12.2026"));
  EXPECT_EQ(r.docVar(QStringLiteral("DEVNUM")), devnum);
  // docVars sit between w:compat and the later settings, where the file format wants them.
  pugi::xml_node vars = r.xml("word/settings.xml").child("w:docVars");
  ASSERT_TRUE(vars);
  EXPECT_STREQ(vars.previous_sibling().name(), "w:compat");

  auto paras = DocxReader::paragraphs(r.body());
  EXPECT_NE(std::find(paras.begin(), paras.end(), QStringLiteral("Номер документа: 0001")),
            paras.end());
  EXPECT_NE(std::find(paras.begin(), paras.end(), QStringLiteral("Дата: 10.12.2026")), paras.end());
  EXPECT_NE(std::find(paras.begin(), paras.end(), QStringLiteral("Прибор: ") + devnum),
            paras.end());
  EXPECT_EQ(DocxReader::paragraphs(r.xml("word/footer1.xml")).front(),
            QStringLiteral("Отчет № 0001, страница 1"));
}

TEST_F(DocxEngineTest, FieldOfAnUnsetVariableShowsNothingAndVariablesIgnoreCase) {
  NewDocument();
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("1")},
                                    {QStringLiteral("number"), QStringLiteral("0002")}}));
  EXPECT_FALSE(word_->FillVariables({{QStringLiteral(" "), QStringLiteral("x")}}));
  ASSERT_TRUE(word_->End());
  DocxReader r(word_->ActiveDocumentPath());
  auto paras = DocxReader::paragraphs(r.body());
  EXPECT_NE(std::find(paras.begin(), paras.end(), QStringLiteral("Номер документа: 0002")),
            paras.end());
  EXPECT_NE(std::find(paras.begin(), paras.end(), QStringLiteral("Прибор: ")), paras.end());
  EXPECT_EQ(r.xml("word/settings.xml").child("w:docVars").select_nodes("w:docVar").size(), 1u);
}

TEST_F(DocxEngineTest, VariablesFindOneSettingsPartWhateverTheTemplateHas) {
  DocxReader source(kTemplate);
  std::string rels = source.raw("word/_rels/document.xml.rels");
  const auto at = rels.find("<Relationship Id=\"rId2\"");
  rels.erase(at, rels.find("/>", at) + 2 - at);
  struct Case {
    const char* what;
    std::map<std::string, std::string> replaced;
    std::set<std::string> dropped;
  };
  for (const Case& c :
       {Case{"settings of another kind", {{"word/settings.xml", "<other/>"}}, {}},
        Case{"no settings relationship", {{"word/_rels/document.xml.rels", rels}}, {}},
        Case{"no settings part", {}, {"word/settings.xml"}}}) {
    const QString path = dir_.filePath(QString::fromLatin1(c.what) + QStringLiteral(".docx"));
    ASSERT_TRUE(source.WriteWith(path, c.replaced, c.dropped));
    ASSERT_TRUE(word_->Begin());
    ASSERT_TRUE(Create(path)) << c.what;
    ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0005")}}));
    ASSERT_TRUE(word_->End());

    DocxReader r(word_->ActiveDocumentPath());
    std::vector<std::string> targets;
    for (pugi::xml_node rel : r.xml("word/_rels/document.xml.rels").children("Relationship"))
      if (std::string(rel.attribute("Type").value()).ends_with("/settings"))
        targets.push_back(rel.attribute("Target").value());
    ASSERT_EQ(targets.size(), 1u) << c.what;
    pugi::xml_node var = r.xml("word/" + targets[0]).child("w:docVars").child("w:docVar");
    EXPECT_STREQ(var.attribute("w:val").value(), "0005") << c.what;
    const std::string types = r.raw("[Content_Types].xml");
    const std::string partName = "\"/word/" + targets[0] + "\"";
    ASSERT_NE(types.find(partName), std::string::npos) << c.what;
    EXPECT_EQ(types.find(partName, types.find(partName) + 1), std::string::npos) << c.what;
    EXPECT_EQ(DocxReader::paragraphs(r.body()).at(1), QStringLiteral("Номер документа: 0005"));
  }
}

// A template may declare a variable without a value, and its last table row may continue a
// vertical merge; neither may swallow what the report writes.
TEST_F(DocxEngineTest, ValuelessVariablesAndMergedLastRowsTakeTheReport) {
  DocxReader source(kTemplate);
  std::string settings = source.raw("word/settings.xml");
  settings.insert(settings.find("<w:themeFontLang"),
                  "<w:docVars><w:docVar w:name=\"NUMBER\"/></w:docVars>");
  std::string body = source.raw("word/document.xml");
  const std::string cellWidth = "<w:tcW w:w=\"680\" w:type=\"dxa\"/>";
  body.insert(body.find(cellWidth) + cellWidth.size(), "<w:vMerge/>");
  const QString path = dir_.filePath(QStringLiteral("odd.docx"));
  ASSERT_TRUE(
      source.WriteWith(path, {{"word/settings.xml", settings}, {"word/document.xml", body}}));

  ASSERT_TRUE(word_->Begin());
  ASSERT_TRUE(Create(path));
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0003")}}));
  ASSERT_TRUE(Block(DataBlock{1, 1, TestPicture(), {QStringLiteral("x")}, {}}));
  ASSERT_TRUE(word_->End());

  DocxReader r(word_->ActiveDocumentPath());
  EXPECT_STREQ(
      r.xml("word/settings.xml").child("w:docVars").child("w:docVar").attribute("w:val").value(),
      "0003");
  EXPECT_EQ(DocxReader::paragraphs(r.body()).at(1), QStringLiteral("Номер документа: 0003"));
  auto rows = DocxReader::rows(r.tables().at(0));
  ASSERT_EQ(rows.size(), 2u);
  pugi::xml_node cell = DocxReader::cells(rows[1]).at(0);
  EXPECT_FALSE(cell.child("w:tcPr").child("w:vMerge"));
  EXPECT_EQ(DocxReader::text(cell), QStringLiteral("1"));
}

TEST_F(DocxEngineTest, ABlockIsARowWithNumberPictureAndLinesInTheFont) {
  NewDocument();
  BlockOutcome outcome;
  PortStatus missing = Block(DataBlock{3, 1, TestPicture(), {}, {}}, &outcome);
  EXPECT_FALSE(missing);
  EXPECT_TRUE(missing.text().contains(QStringLiteral("таблиц"))) << missing.text().toStdString();
  EXPECT_EQ(outcome.reached, BlockStage::kNone);
  EXPECT_FALSE(Block(DataBlock{0, 1, TestPicture(), {}, {}}));

  const DataBlock block{
      2,
      7,
      TestPicture(),
      {QStringLiteral("Имя <&\"> "), QStringLiteral(" "), QStringLiteral("H = 12,34 мм")},
      BlockFont{QStringLiteral("Arial"), 11, true, false}};
  ASSERT_TRUE(Block(block, &outcome));
  EXPECT_EQ(outcome.reached, BlockStage::kComplete);
  EXPECT_EQ(outcome.documentName, QStringLiteral("Sample_KD735_1.docx"));
  ASSERT_TRUE(word_->End());

  DocxReader r(word_->ActiveDocumentPath());
  ASSERT_TRUE(r.ok());
  auto tables = r.tables();
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(DocxReader::rows(tables[0]).size(), 1u) << "table 1 is untouched";
  auto row = DocxReader::rows(tables[1]);
  ASSERT_EQ(row.size(), 2u);
  EXPECT_FALSE(row[1].child("w:trPr").child("w:tblHeader")) << "a data row is no heading row";
  auto cells = DocxReader::cells(row[1]);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_TRUE(cells[0].child("w:tcPr").child("w:tcW")) << "cells keep the column's shape";

  EXPECT_EQ(DocxReader::paragraphs(cells[0]), std::vector<QString>{QStringLiteral("7")});
  EXPECT_STREQ(cells[0].child("w:p").child("w:pPr").child("w:jc").attribute("w:val").value(),
               "center");

  auto inlines = cells[1].select_nodes(".//w:drawing/wp:inline");
  ASSERT_EQ(inlines.size(), 1u);
  pugi::xml_node inl = inlines[0].node();
  EXPECT_EQ(inl.child("wp:extent").attribute("cx").as_llong(), 134 * kEmuPerPixel);
  EXPECT_EQ(inl.child("wp:extent").attribute("cy").as_llong(), 70 * kEmuPerPixel);
  QImage pic = r.picture(inl.select_node(".//a:blip").node());
  EXPECT_EQ(pic.size(), QSize(134, 70));
  EXPECT_EQ(pic.pixel(5, 5), qRgb(0, 0, 0));
  EXPECT_STREQ(cells[1].child("w:p").child("w:pPr").child("w:jc").attribute("w:val").value(),
               "both");

  EXPECT_EQ(DocxReader::paragraphs(cells[2]),
            (std::vector<QString>{QStringLiteral("Имя <&\"> "), QStringLiteral(" "),
                                  QStringLiteral("H = 12,34 мм")}));
  for (pugi::xpath_node p : cells[2].select_nodes("w:p")) {
    EXPECT_STREQ(p.node().child("w:pPr").child("w:jc").attribute("w:val").value(), "left");
    for (pugi::xpath_node run : p.node().select_nodes("w:r")) {
      pugi::xml_node rPr = run.node().child("w:rPr");
      EXPECT_STREQ(rPr.child("w:rFonts").attribute("w:ascii").value(), "Arial");
      EXPECT_STREQ(rPr.child("w:rFonts").attribute("w:hAnsi").value(), "Arial");
      EXPECT_STREQ(rPr.child("w:sz").attribute("w:val").value(), "22");
      EXPECT_STREQ(rPr.child("w:b").attribute("w:val").value(), "1");
      EXPECT_STREQ(rPr.child("w:i").attribute("w:val").value(), "0");
      EXPECT_STREQ(rPr.child("w:color").attribute("w:val").value(), "auto");
      // Children in the order the file format requires.
      std::vector<std::string> order;
      for (pugi::xml_node c : rPr.children()) order.push_back(c.name());
      EXPECT_EQ(order, (std::vector<std::string>{"w:rFonts", "w:b", "w:bCs", "w:i", "w:iCs",
                                                 "w:color", "w:sz", "w:szCs"}));
    }
  }
}

// A failure part way leaves what was done, and says how far the block got.
TEST_F(DocxEngineTest, ABlockThatFailsPartWayKeepsWhatWasDone) {
  DocxReader source(kTemplate);
  std::string body = source.raw("word/document.xml");
  // The first table loses its third column, the second its second and third.
  auto dropLastCell = [&body](size_t from) {
    const size_t end = body.find("</w:tr>", from);
    const size_t last = body.rfind("<w:tc>", end);
    body.erase(last, end - last);
    return body.find("</w:tbl>", from) + 8;
  };
  size_t at = dropLastCell(body.find("<w:tbl>"));
  const size_t second = body.find("<w:tbl>", at);
  dropLastCell(second);
  dropLastCell(second);
  const QString path = dir_.filePath(QStringLiteral("narrow.docx"));
  ASSERT_TRUE(source.WriteWith(path, {{"word/document.xml", body}}));
  ASSERT_TRUE(word_->Begin());
  ASSERT_TRUE(Create(path));
  struct Case {
    int table;
    BlockStage reached;
    int cells;
  };
  for (const Case& c :
       {Case{1, BlockStage::kPictureCell, 2}, Case{2, BlockStage::kNumberCell, 1}}) {
    BlockOutcome outcome;
    PortStatus s = Block(DataBlock{c.table, 5, TestPicture(), {QStringLiteral("x")}, {}}, &outcome);
    EXPECT_FALSE(s) << c.table;
    EXPECT_TRUE(s.text().contains(QStringLiteral("ячейк"))) << s.text().toStdString();
    EXPECT_EQ(outcome.reached, c.reached) << c.table;
  }
  ASSERT_TRUE(word_->End());
  DocxReader r(word_->ActiveDocumentPath());
  auto narrow = DocxReader::cells(DocxReader::rows(r.tables().at(0)).at(1));
  ASSERT_EQ(narrow.size(), 2u);
  EXPECT_EQ(DocxReader::text(narrow[0]), QStringLiteral("5"));
  EXPECT_EQ(narrow[1].select_nodes(".//wp:inline").size(), 1u);
  EXPECT_EQ(DocxReader::text(DocxReader::cells(DocxReader::rows(r.tables().at(1)).at(1)).at(0)),
            QStringLiteral("5"));
}

TEST_F(DocxEngineTest, RepeatedPicturesShareOnePartAndDrawingIdsStayUnique) {
  NewDocument();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(Block(DataBlock{1, i + 1, TestPicture(), {}, {}}));
  // A picture of many colours comes out exactly as well.
  QImage gradient(40, 30, QImage::Format_RGB32);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) gradient.setPixel(x, y, qRgb(x * 6, y * 8, (x * y) % 256));
  ASSERT_TRUE(Block(DataBlock{1, 4, gradient, {}, {}}));
  ASSERT_TRUE(word_->End());

  DocxReader r(word_->ActiveDocumentPath());
  std::set<unsigned> ids;
  for (pugi::xpath_node d : r.body().select_nodes(".//wp:docPr"))
    ids.insert(d.node().attribute("id").as_uint());
  EXPECT_EQ(ids.size(), 4u);
  int media = 0;
  for (const auto& n : r.names()) media += n.starts_with("word/media/");
  EXPECT_EQ(media, 2);
  pugi::xml_node last = r.body().select_node("(.//a:blip)[last()]").node();
  EXPECT_EQ(r.picture(last).convertToFormat(QImage::Format_RGB32), gradient);
  pugi::xml_node first = r.body().select_node("(.//a:blip)[1]").node();
  EXPECT_EQ(r.picture(first).convertToFormat(QImage::Format_RGB32), TestPicture());
  const std::string types = r.raw("[Content_Types].xml");
  EXPECT_NE(types.find("Extension=\"png\""), std::string::npos);
}

TEST_F(DocxEngineTest, ASummaryFollowsTheLastTable) {
  NewDocument();
  SummaryOutcome outcome;
  const SummaryTable summary{
      QStringLiteral("Сводка измерений"),
      {{QStringLiteral("Файлов"), QStringLiteral("3")},
       {QStringLiteral("Минимальная толщина"), QStringLiteral("1,50 мм <&>")}},
      BlockFont{QStringLiteral("Arial"), 12, false, true}};
  ASSERT_TRUE(word_->AppendSummary(summary, &outcome));
  EXPECT_FALSE(outcome.noDocument);
  EXPECT_EQ(outcome.documentName, QStringLiteral("Sample_KD735_1.docx"));
  // Blocks still go to their tables.
  ASSERT_TRUE(Block(DataBlock{2, 1, TestPicture(), {QStringLiteral("x")}, {}}));
  ASSERT_TRUE(word_->End());

  DocxReader r(word_->ActiveDocumentPath());
  auto tables = r.tables();
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(DocxReader::rows(tables[1]).size(), 2u);
  pugi::xml_node heading = tables[2].previous_sibling();
  EXPECT_EQ(DocxReader::text(heading), QStringLiteral("Сводка измерений"));
  EXPECT_STREQ(heading.select_node(".//w:b").node().attribute("w:val").value(), "1");
  auto rows = DocxReader::rows(tables[2]);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(DocxReader::text(DocxReader::cells(rows[1])[0]), QStringLiteral("Минимальная толщина"));
  EXPECT_EQ(DocxReader::text(DocxReader::cells(rows[1])[1]), QStringLiteral("1,50 мм <&>"));
  EXPECT_STREQ(tables[2].next_sibling().name(), "w:p") << "no table may follow it directly";

  // With no document there is nothing to add to.
  ASSERT_TRUE(word_->Begin());
  CloseOutcome closed;
  ASSERT_TRUE(word_->CloseDocuments(&closed));
  ASSERT_TRUE(word_->AppendSummary(summary, &outcome));
  EXPECT_TRUE(outcome.noDocument);
  ASSERT_TRUE(word_->End());
}

TEST_F(DocxEngineTest, ChangesAreWrittenWhenTheOutermostActionEnds) {
  ASSERT_TRUE(word_->Begin());  // the user action
  NewDocument();
  const QString path = word_->ActiveDocumentPath();
  ASSERT_TRUE(word_->End());
  EXPECT_FALSE(QFileInfo::exists(path)) << "nothing is written in the middle of an action";
  ASSERT_TRUE(word_->End());
  ASSERT_TRUE(QFileInfo::exists(path));

  // The next action rewrites the file whole; no temporary file stays behind.
  ASSERT_TRUE(word_->Begin());
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("42")}}));
  ASSERT_TRUE(word_->End());
  EXPECT_EQ(DocxReader(path).docVar(QStringLiteral("NUMBER")), QStringLiteral("42"));
  EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files).size(), 1);
}

TEST_F(DocxEngineTest, ASaveFailureIsReported) {
  NewDocument();
  const QString folder = QFileInfo(word_->ActiveDocumentPath()).path();
  ASSERT_TRUE(word_->End());
  // The reports folder turns into a file: the document can no longer be written.
  ASSERT_TRUE(QDir(folder).removeRecursively());
  QFile blocker(folder);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  ASSERT_TRUE(word_->Begin());
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("1")}}));
  PortStatus s = word_->End();
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("Sample_KD735_1.docx"))) << s.text().toStdString();
  QFile::remove(folder);
}

TEST_F(DocxEngineTest, ControlCharactersInTextsDoNotBreakTheDocument) {
  NewDocument();
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("DEVNUM"), QStringLiteral("A\x01"
                                                                              "B")}}));
  ASSERT_TRUE(Block(DataBlock{1, 1, TestPicture(), {QStringLiteral("x\x02y\x1Fz")}, {}}));
  ASSERT_TRUE(word_->End());
  DocxReader r(word_->ActiveDocumentPath());
  ASSERT_TRUE(r.body());
  ASSERT_TRUE(r.xml("word/settings.xml"));
  EXPECT_EQ(r.docVar(QStringLiteral("DEVNUM")), QStringLiteral("AB"));
  EXPECT_EQ(DocxReader::text(DocxReader::cells(DocxReader::rows(r.tables()[0])[1])[2]),
            QStringLiteral("xyz"));
}

TEST_F(DocxEngineTest, ACopyIsStoredAsDocxOrPdfAndNeverOverTheReport) {
  NewDocument();
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0077")}}));
  const QString copy = dir_.filePath(QStringLiteral("copy.docx"));
  ASSERT_TRUE(word_->StoreCopy(copy));
  EXPECT_EQ(DocxReader(copy).docVar(QStringLiteral("NUMBER")), QStringLiteral("0077"))
      << "the copy holds what the action changed so far";
  PortStatus s = word_->StoreCopy(dir_.filePath(QStringLiteral("copy.odt")));
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral(".pdf"))) << s.text().toStdString();
  EXPECT_FALSE(word_->StoreCopy(word_->ActiveDocumentPath()));
  EXPECT_FALSE(word_->StoreCopy(kTemplate));
  ASSERT_TRUE(word_->End());
}

TEST_F(DocxEngineTest, APdfCopyIsMadeWithLibreOffice) {
  KD735_NEED(!QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty(), "LibreOffice");
  NewDocument();
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0078")}}));
  const QString pdf = dir_.filePath(QStringLiteral("report.pdf"));
  PortStatus s = word_->StoreCopy(pdf);
  ASSERT_TRUE(s) << s.text().toStdString();
  ASSERT_TRUE(word_->End());
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.read(5) == "%PDF-");
}

TEST_F(DocxEngineTest, TemplatesThatAreNoWordDocumentsAreRefused) {
  ASSERT_TRUE(word_->Begin());
  PortStatus s = Create(dir_.filePath(QStringLiteral("nothing.docx")));
  EXPECT_FALSE(s);
  QFile text(dir_.filePath(QStringLiteral("text.doc")));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("just text");
  text.close();
  s = Create(text.fileName());
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("text.doc"))) << s.text().toStdString();

  // An archive that holds one part twice could never be written back.
  const QString twice = dir_.filePath(QStringLiteral("twice.docx"));
  ASSERT_TRUE(QFile::copy(kTemplate, twice));
  ASSERT_TRUE(QFile::setPermissions(twice, QFile::ReadOwner | QFile::WriteOwner));
  zip_t* za = zip_open(QFile::encodeName(twice).constData(), 0, nullptr);
  ASSERT_TRUE(za);
  for (const char* name : {"customXml/itemA.xml", "customXml/itemB.xml"}) {
    zip_source_t* src = zip_source_buffer(za, "<a/>", 4, 0);
    ASSERT_GE(zip_file_add(za, name, src, 0), 0);
  }
  ASSERT_EQ(zip_close(za), 0);
  QFile patched(twice);
  ASSERT_TRUE(patched.open(QIODevice::ReadWrite));
  QByteArray bytes = patched.readAll();
  bytes.replace("customXml/itemB.xml", "customXml/itemA.xml");
  ASSERT_TRUE(patched.seek(0));
  ASSERT_EQ(patched.write(bytes), bytes.size());
  patched.close();
  s = Create(twice);
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("customXml/itemA.xml"))) << s.text().toStdString();

  // Nor one whose parts add up to more than memory should hold: two parts that say they unpack
  // to 300 MiB each are refused before anything is unpacked.
  const QString huge = dir_.filePath(QStringLiteral("huge.docx"));
  ASSERT_TRUE(QFile::copy(kTemplate, huge));
  ASSERT_TRUE(QFile::setPermissions(huge, QFile::ReadOwner | QFile::WriteOwner));
  za = zip_open(QFile::encodeName(huge).constData(), 0, nullptr);
  ASSERT_TRUE(za);
  for (const char* name : {"customXml/hugeA.xml", "customXml/hugeB.xml"}) {
    zip_source_t* src = zip_source_buffer(za, "<a/>", 4, 0);
    const zip_int64_t index = zip_file_add(za, name, src, 0);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_STORE, 0), 0);
  }
  ASSERT_EQ(zip_close(za), 0);
  QFile sized(huge);
  ASSERT_TRUE(sized.open(QIODevice::ReadWrite));
  bytes = sized.readAll();
  // The uncompressed size of a central directory entry lies 24 bytes after its signature.
  for (const char* name : {"customXml/hugeA.xml", "customXml/hugeB.xml"}) {
    const qsizetype entry = bytes.lastIndexOf(name) - 46;
    ASSERT_TRUE(bytes.mid(entry, 4) == QByteArray("PK\x01\x02", 4)) << name;
    const quint32 size = 300u << 20;
    for (int k = 0; k < 4; ++k) bytes[entry + 24 + k] = char(size >> (8 * k));
  }
  ASSERT_TRUE(sized.seek(0));
  ASSERT_EQ(sized.write(bytes), bytes.size());
  sized.close();
  s = Create(huge);
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("велик"))) << s.text().toStdString();

  EXPECT_EQ(word_->DocumentCount(), 0);
  ASSERT_TRUE(word_->End());
}

// Template checks: what DocumentsAdd says about a template made from the default one.
class DocxTemplateCheck : public DocxEngineTest {
 protected:
  PortStatus Add(const std::map<std::string, std::string>& replaced,
                 const std::vector<std::pair<std::string, std::string>>& added = {}) {
    const QString path = dir_.filePath(QStringLiteral("t%1.docx").arg(++made_));
    EXPECT_TRUE(source_.WriteWith(path, replaced, {}, added));
    EXPECT_TRUE(word_->Begin());
    PortStatus s = Create(path);
    if (!s) {
      EXPECT_TRUE(s.text().contains(QFileInfo(path).fileName())) << s.text().toStdString();
    }
    return s;
  }
  std::string Document() const { return source_.raw("word/document.xml"); }
  // The document with `xml` put in front of the body's first paragraph.
  std::string DocumentWith(const std::string& xml) const {
    std::string d = Document();
    d.insert(d.find("<w:p>"), xml);
    return d;
  }

  DocxReader source_{kTemplate};
  int made_ = 0;
};

// Nesting deeper than any document needs is refused with a message, not a crash; within the
// bound the walks are iterative and still find fields and tables inside the wrappers.
TEST_F(DocxTemplateCheck, DeepNestingIsBoundedAndWalkedWithoutRecursion) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<w:sdt><w:sdtContent>";
  deep += "<w:p/>";
  for (int i = 0; i < 100000; ++i) deep += "</w:sdtContent></w:sdt>";
  PortStatus s = Add({{"word/document.xml", DocumentWith(deep)}});
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("word/document.xml"))) << s.text().toStdString();
  EXPECT_TRUE(s.text().contains(QStringLiteral("глубже"))) << s.text().toStdString();
  ASSERT_TRUE(word_->End());

  // 200 wrappers (400 levels) around the NUMBER field and the first table.
  std::string open, close;
  for (int i = 0; i < 200; ++i) {
    open += "<w:sdt><w:sdtContent>";
    close += "</w:sdtContent></w:sdt>";
  }
  std::string d = Document();
  const auto numberPara = d.find("<w:p>", d.find("</w:p>"));
  const auto firstTable = d.find("<w:tbl>");
  d.insert(d.find("</w:tbl>") + 8, close);
  d.insert(firstTable, open);
  d.insert(d.find("</w:p>", numberPara) + 6, close);
  d.insert(numberPara, open);
  s = Add({{"word/document.xml", d}});
  ASSERT_TRUE(s) << s.text().toStdString();
  ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0007")}}));
  ASSERT_TRUE(Block(DataBlock{2, 1, TestPicture(), {}, {}})) << "both tables are found";
  ASSERT_TRUE(Block(DataBlock{1, 1, TestPicture(), {}, {}}));
  ASSERT_TRUE(word_->End());
  DocxReader r(word_->ActiveDocumentPath());
  ASSERT_TRUE(r.body());
  EXPECT_NE(r.raw("word/document.xml").find(">0007<"), std::string::npos);
  EXPECT_EQ(DocxReader::rows(r.body().select_node(".//w:tbl").node()).size(), 2u);
}

// Every XML part must read back as XML, a part the program never looks into included: the
// parser alone would drop text after the root or take an attribute twice, and Word refuses the
// whole report for one broken part.
TEST_F(DocxTemplateCheck, MalformedXmlPartsAreRefusedNamingThePart) {
  const std::string d = Document();
  const std::string truncated = d.substr(0, d.size() / 2);
  std::string twice = d;
  twice.replace(twice.find("<w:tbl>"), 7, "<w:tbl w:a=\"1\" w:a=\"2\">");
  std::string control = source_.raw("word/footer1.xml");
  control.replace(control.rfind("</w:t>"), 6, "&#1;</w:t>");
  const struct Case {
    const char* part;
    std::string data;
  } cases[] = {
      {"word/document.xml", d + "junk after the root"},
      {"word/document.xml", truncated},
      {"word/document.xml", twice},
      {"word/document.xml", "\n" + d},  // the declaration must come first
      {"word/styles.xml", "<w:styles>"},
      {"word/settings.xml", "<!DOCTYPE x [<!ENTITY a \"b\">]>" +
                                source_.raw("word/settings.xml")
                                    .substr(source_.raw("word/settings.xml").find("<w:settings"))},
      {"word/footer1.xml", control},
      {"docProps/app.xml", "<a>\xC0\x80</a>"},  // not UTF-8
  };
  for (const Case& c : cases) {
    const PortStatus s = Add({{c.part, c.data}});
    EXPECT_FALSE(s) << c.part << " " << c.data.substr(0, 40);
    EXPECT_TRUE(s.text().contains(QString::fromLatin1(c.part))) << s.text().toStdString();
  }
  EXPECT_EQ(word_->DocumentCount(), 0);
}

// Part names are paths inside the package: none may lead out of it when the report is unpacked,
// and two names that differ in letter case only are one part (OPC names ignore case).
TEST_F(DocxTemplateCheck, HostilePartNamesAreRefused) {
  const std::vector<std::string> names = {
      "../../etc/x",         "/abs/evil",           "word/../../x",
      "word//x.xml",         "word/./x.xml",        "WORD/DOCUMENT.XML",
      "[content_types].xml", "word/media/Bild.PNG", "word/document.xml/inner"};
  for (const std::string& name : names) {
    std::vector<std::pair<std::string, std::string>> added = {{name, "x"}};
    if (name == "word/media/Bild.PNG") added.insert(added.begin(), {"word/media/bild.png", "y"});
    const PortStatus s = Add({}, added);
    EXPECT_FALSE(s) << name;
    EXPECT_TRUE(s.text().contains(QString::fromStdString(name), Qt::CaseInsensitive) ||
                s.text().contains(QStringLiteral("word/document.xml")))
        << s.text().toStdString();
  }
  // Unicode letter case counts too.
  const PortStatus s = Add({}, {{"word/media/Я.png", "a"}, {"word/media/я.png", "b"}});
  EXPECT_FALSE(s);
  ASSERT_TRUE(word_->End());
}

// A small archive may unpack to far more than a template ever holds: one 70 MiB part is over
// the budget.
TEST_F(DocxTemplateCheck, OneHugePartIsRefused) {
  const PortStatus s =
      Add({}, {{"word/media/huge.png", std::string(70u << 20, '\0')}});  // packs to some 70 KiB
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("велик"))) << s.text().toStdString();
  ASSERT_TRUE(word_->End());
}

// Relationship and drawing ids are computed without overflow and never clash with the
// template's, whatever numbers it uses.
TEST_F(DocxTemplateCheck, NewIdsStayUniqueWhateverTheTemplateUses) {
  std::string rels = source_.raw("word/_rels/document.xml.rels");
  const std::string relType =
      "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  rels.insert(rels.find("</Relationships>"),
              "<Relationship Id=\"rId2147483647\" Type=\"" + relType +
                  "hyperlink\" Target=\"http://a/\" TargetMode=\"External\"/>"
                  "<Relationship Id=\"rId99999999999999999999999\" Type=\"" +
                  relType + "hyperlink\" Target=\"http://b/\" TargetMode=\"External\"/>");
  std::string drawings;
  for (const char* id : {"1", "4294967295"})
    drawings += std::string("<w:p><w:r><w:drawing><wp:inline><wp:docPr id=\"") + id +
                "\" name=\"x\"/></wp:inline></w:drawing></w:r></w:p>";
  PortStatus s =
      Add({{"word/_rels/document.xml.rels", rels}, {"word/document.xml", DocumentWith(drawings)}});
  ASSERT_TRUE(s) << s.text().toStdString();
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(Block(DataBlock{1, i + 1, TestPicture(134, 70, qRgb(i * 40, 0, 0)), {}, {}}));
  ASSERT_TRUE(word_->End());

  DocxReader r(word_->ActiveDocumentPath());
  std::set<std::string> relIds;
  for (pugi::xml_node rel : r.xml("word/_rels/document.xml.rels").children("Relationship")) {
    const std::string id = rel.attribute("Id").value();
    EXPECT_TRUE(relIds.insert(id).second) << id;
    EXPECT_TRUE(id.size() > 3 && std::all_of(id.begin() + 3, id.end(), ::isdigit)) << id;
  }
  EXPECT_EQ(relIds.size(), 3u + 2u + 3u);
  std::set<std::string> drawingIds;
  for (pugi::xpath_node d : r.body().select_nodes(".//wp:docPr")) {
    const std::string id = d.node().attribute("id").value();
    EXPECT_TRUE(drawingIds.insert(id).second) << id;
    EXPECT_NE(id, "0");
  }
  EXPECT_EQ(drawingIds.size(), 2u + 3u);
}

// Found by fuzzing: a settings relationship without a target, or with one that names a folder,
// must not make a part called "word" (the report would not open again), and must not lose the
// variables. A relationship that names the document itself must not wipe it.
TEST_F(DocxTemplateCheck, SettingsRelationshipsThatNameNoPartGetOne) {
  const std::string rels = source_.raw("word/_rels/document.xml.rels");
  const std::string original = "Target=\"settings.xml\"";
  ASSERT_NE(rels.find(original), std::string::npos);
  for (const char* target : {"", "Target=\"\"", "Target=\"..\"", "Target=\"document.xml\""}) {
    std::string changed = rels;
    changed.replace(changed.find(original), original.size(), target);
    PortStatus s = Add({{"word/_rels/document.xml.rels", changed}});
    ASSERT_TRUE(s) << target << s.text().toStdString();
    ASSERT_TRUE(word_->FillVariables({{QStringLiteral("NUMBER"), QStringLiteral("0009")}}));
    ASSERT_TRUE(word_->End());
    const QString path = word_->ActiveDocumentPath();
    DocxReader r(path);
    EXPECT_FALSE(r.has("word")) << target;
    EXPECT_TRUE(r.body()) << target;
    std::vector<std::string> targets;
    for (pugi::xml_node rel : r.xml("word/_rels/document.xml.rels").children("Relationship"))
      if (std::string(rel.attribute("Type").value()).ends_with("/settings"))
        targets.push_back(rel.attribute("Target").value());
    ASSERT_EQ(targets.size(), 1u) << target;
    EXPECT_STREQ(
        r.xml("word/" + targets[0]).child("w:docVars").child("w:docVar").attribute("w:val").value(),
        "0009")
        << target;
    // The report opens again as a template.
    ASSERT_TRUE(word_->Begin());
    s = Create(path);
    EXPECT_TRUE(s) << target << s.text().toStdString();
    ASSERT_TRUE(word_->End());
  }
}

TEST_F(DocxEngineTest, Word97TemplateWithoutLibreOfficeNamesTheProblem) {
  DocxEngineOptions options;
  options.reportsFolder = dir_.filePath(QStringLiteral("reports"));
  options.soffice = dir_.filePath(QStringLiteral("no-such-soffice"));
  DocxEngine word(options);
  QFile doc(dir_.filePath(QStringLiteral("Sample_KD735.DOC")));
  ASSERT_TRUE(doc.open(QIODevice::WriteOnly));
  doc.write(QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(504, '\0'));
  doc.close();
  ASSERT_TRUE(word.Begin());
  QString name;
  PortStatus s = word.CreateDocument(doc.fileName(), &name);
  EXPECT_FALSE(s);
  EXPECT_TRUE(s.text().contains(QStringLiteral("LibreOffice"))) << s.text().toStdString();
  EXPECT_TRUE(s.text().contains(QStringLiteral("Word 97"))) << s.text().toStdString();
  word.End();
}

TEST_F(DocxEngineTest, Word97TemplateIsConvertedWithLibreOffice) {
  const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  KD735_NEED(!soffice.isEmpty(), "LibreOffice");
  // Make a Word 97 template from the default one.
  QProcess p;
  p.start(soffice,
          {QStringLiteral("-env:UserInstallation=") +
               QUrl::fromLocalFile(dir_.filePath(QStringLiteral("lo"))).toString(),
           QStringLiteral("--headless"), QStringLiteral("--convert-to"),
           QStringLiteral("doc:MS Word 97"), QStringLiteral("--outdir"), dir_.path(), kTemplate});
  ASSERT_TRUE(p.waitForFinished(120000));
  const QString doc97 = dir_.filePath(QStringLiteral("Sample_KD735.doc"));
  ASSERT_TRUE(QFileInfo::exists(doc97));

  ASSERT_TRUE(word_->Begin());
  PortStatus s = Create(doc97);
  ASSERT_TRUE(s) << s.text().toStdString();
  ASSERT_TRUE(Create(doc97)) << "the second use takes the converted copy";
  ASSERT_TRUE(Block(DataBlock{2, 1, TestPicture(), {QStringLiteral("В-скан")}, {}}));
  ASSERT_TRUE(word_->End());
  DocxReader r(word_->ActiveDocumentPath());
  ASSERT_EQ(r.tables().size(), 2u);
  EXPECT_EQ(DocxReader::text(DocxReader::cells(DocxReader::rows(r.tables()[1]).back()).at(2)),
            QStringLiteral("В-скан"));
}

}  // namespace
}  // namespace kd735
