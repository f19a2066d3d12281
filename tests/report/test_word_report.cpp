#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <sstream>

#include "files/picture.h"
#include "report/docx_engine.h"
#include "report/word_report.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::DocxReader;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);
const QLocale kRu(QLocale::Russian, QLocale::Russia);
constexpr long long kEmuPerPixel = 9525;

class RecordingFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage& message) override { messages.push_back(message); }
  void SetStatusText(const QString& text) override { statuses << text; }
  std::vector<ReportMessage> messages;
  QStringList statuses;
};

// Passes every call on to the engine; a block fails from the given call on (0: never), with
// a plain failure or a lost connection; a close may say which files it kept.
class FailingPort : public ReportPort {
 public:
  explicit FailingPort(ReportPort& port) : port_(port) {}
  int failBlocksFrom = 0;
  int blockCalls = 0;
  PortStatus::Kind failure = PortStatus::Kind::kFailed;
  QStringList keptOnClose;

  PortStatus Begin() override { return port_.Begin(); }
  PortStatus End() override { return port_.End(); }
  PortStatus CreateDocument(const QString& t, QString* n) override {
    return port_.CreateDocument(t, n);
  }
  PortStatus FillVariables(const std::vector<DocumentVariable>& v) override {
    return port_.FillVariables(v);
  }
  PortStatus AppendBlock(const DataBlock& b, BlockOutcome* o) override {
    if (failBlocksFrom > 0 && ++blockCalls >= failBlocksFrom) {
      *o = {};
      return PortStatus::Error(u"Сбой automation"_s, failure);
    }
    return port_.AppendBlock(b, o);
  }
  PortStatus AppendSummary(const SummaryTable& t, SummaryOutcome* o) override {
    return port_.AppendSummary(t, o);
  }
  PortStatus Where(DocumentPlace* p) override { return port_.Where(p); }
  PortStatus StoreCopy(const QString& p) override { return port_.StoreCopy(p); }
  PortStatus CloseDocuments(CloseOutcome* o) override {
    PortStatus s = port_.CloseDocuments(o);
    o->keptFiles = keptOnClose;
    return s;
  }

 private:
  ReportPort& port_;
};

class WordReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    DocxEngineOptions options;
    options.reportsFolder = dir_.filePath(u"reports"_s);
    options.openFile = [this](const QString& path) {
      opened_ << path;
      return openResult_;
    };
    engine_ = std::make_unique<DocxEngine>(options);
    word_ = std::make_unique<FailingPort>(*engine_);
    report_ = std::make_unique<WordReport>(*word_, clipboard_, feedback_);
    report_->SetLocale(kRu);
    report_->SetToday([] { return QDate(2026, 12, 10); });
  }

  bool Create(const std::optional<QString>& instrument = u"КД735 №0123"_s) {
    return report_->CreateWordDocument(kTemplate, settings_, instrument);
  }
  DocxReader Document() { return DocxReader(engine_->ActiveDocumentPath()); }

  // Rows of a table below its heading row: (number, picture count, lines) per row.
  struct Row {
    QString number;
    int pictures = 0;
    std::vector<QString> lines;
    pugi::xml_node node;
  };
  static std::vector<Row> BlockRows(pugi::xml_node table) {
    std::vector<Row> out;
    auto rows = DocxReader::rows(table);
    for (size_t i = 1; i < rows.size(); ++i) {
      auto cells = DocxReader::cells(rows[i]);
      Row r;
      r.node = rows[i];
      r.number = DocxReader::text(cells.at(0));
      if (cells.size() > 1)
        r.pictures = static_cast<int>(cells[1].select_nodes(".//wp:inline").size());
      if (cells.size() > 2) r.lines = DocxReader::paragraphs(cells[2]);
      out.push_back(r);
    }
    return out;
  }
  static std::vector<QString> Lines(const QStringList& l) { return {l.begin(), l.end()}; }

  QTemporaryDir dir_;
  PictureClipboard clipboard_;
  std::unique_ptr<DocxEngine> engine_;
  std::unique_ptr<FailingPort> word_;
  RecordingFeedback feedback_;
  std::unique_ptr<WordReport> report_;
  ReportSettings settings_;
  QStringList opened_;
  bool openResult_ = true;
};

TEST_F(WordReportTest, CreatedDocumentsAreNumberedAndCarryTheThreeValues) {
  const QString devnum = u"КД735 <№12> & \"Цех 3\""_s;
  for (const char* expected : {"0001", "0002", "0003"}) {
    ASSERT_TRUE(Create(devnum));
    DocxReader r = Document();
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.docVar(u"NUMBER"_s), QLatin1String(expected));
    EXPECT_EQ(r.docVar(u"TIMEDATA"_s), u"10.12.2026"_s);
    EXPECT_EQ(r.docVar(u"DEVNUM"_s), devnum);
    auto paras = DocxReader::paragraphs(r.body());
    EXPECT_EQ(paras.at(1), u"Номер документа: "_s + QLatin1String(expected));
    EXPECT_EQ(paras.at(2), u"Дата: 10.12.2026"_s);
    EXPECT_EQ(paras.at(3), u"Прибор: "_s + devnum);
  }
  EXPECT_EQ(settings_.documentNumber, 3);
  EXPECT_EQ(report_->ReportStatusText(), u"Открыт документ Word -Sample_KD735_3.docx"_s);
  EXPECT_TRUE(feedback_.messages.empty());
}

TEST_F(WordReportTest, DocumentNumberRules) {
  struct Case {
    int number;
    bool increment;
    const char* shown;
    int after;
  };
  for (const Case& c : {Case{0, false, "0000", 0}, Case{1000000, true, "1000000", 1000000},
                        Case{12344, true, "12345", 12345}, Case{-5, true, "0001", 1},
                        Case{2000000, false, "1000000", 1000000}}) {
    settings_.documentNumber = c.number;
    settings_.incrementNumber = c.increment;
    ASSERT_TRUE(Create());
    EXPECT_EQ(Document().docVar(u"NUMBER"_s), QLatin1String(c.shown)) << c.number;
    EXPECT_EQ(settings_.documentNumber, c.after) << c.number;
  }
  // The number advances also when it is not inserted.
  settings_.documentNumber = 7;
  settings_.incrementNumber = true;
  settings_.insertNumber = settings_.insertDate = settings_.insertDeviceNumber = false;
  ASSERT_TRUE(Create());
  EXPECT_EQ(settings_.documentNumber, 8);
  EXPECT_EQ(Document().docVar(u"NUMBER"_s), u"<unset>"_s);
  EXPECT_EQ(Document().docVar(u"TIMEDATA"_s), u"<unset>"_s);
}

TEST_F(WordReportTest, MissingTemplateTouchesNothingButResetsTheCounters) {
  ASSERT_TRUE(Create());
  TKD735FileContent m{RecordBuilder::Measurement().record};
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  ASSERT_EQ(report_->MeasureBlockCount(), 1);
  const QString missing = dir_.filePath(u"нет/Sample_KD735.DOC"_s);
  EXPECT_FALSE(report_->CreateWordDocument(missing, settings_, u"x"_s));
  EXPECT_EQ(report_->MeasureBlockCount(), 0);
  EXPECT_EQ(report_->BscanBlockCount(), 0);
  EXPECT_EQ(report_->ReportStatusText(), u"не найден файл шаблона "_s + missing);
  ASSERT_FALSE(feedback_.messages.empty());
  EXPECT_EQ(feedback_.messages.back(),
            (ReportMessage{MessageBoxKind::Error,
                           u"Файл шаблона \r"_s + missing +
                               u"\rне существует. Укажите корректное имя файла."_s}));
  EXPECT_EQ(settings_.documentNumber, 1) << "the number is not advanced";
  EXPECT_EQ(engine_->DocumentCount(), 1);
}

TEST_F(WordReportTest, WithoutAnInstrumentTheDocumentIsMadeWithoutDevnum) {
  ASSERT_TRUE(Create(std::nullopt));
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_EQ(feedback_.messages[0],
            (ReportMessage{MessageBoxKind::Information,
                           u"Прибор КД735 не подключен\rПоле \"тип и номер номер прибора\" "
                           u"останется не заполненным"_s}));
  DocxReader r = Document();
  EXPECT_EQ(r.docVar(u"NUMBER"_s), u"0001"_s);
  EXPECT_EQ(r.docVar(u"TIMEDATA"_s), u"10.12.2026"_s);
  EXPECT_EQ(r.docVar(u"DEVNUM"_s), u"<unset>"_s);
}

TEST_F(WordReportTest, ATemplateWordCannotOpenGivesTheWordErrorTexts) {
  QFile bad(dir_.filePath(u"bad.doc"_s));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("not a document");
  bad.close();
  EXPECT_FALSE(report_->CreateWordDocument(bad.fileName(), settings_, u"x"_s));
  ASSERT_EQ(feedback_.messages.size(), 2u);
  EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Plain);
  EXPECT_TRUE(feedback_.messages[0].text.contains(u"bad.doc"_s));
  EXPECT_EQ(feedback_.messages[1],
            (ReportMessage{MessageBoxKind::Error,
                           u"ОШИБКА открытия Word.\rВозможно MS Word не установлен"_s}));
  EXPECT_EQ(report_->ReportStatusText(), u"ОШИБКА открытия Word."_s);
  // The connection was given back: the next action works.
  EXPECT_TRUE(Create());
}

TEST_F(WordReportTest, BlocksGoToTheirTablesWithRunningNumbersPictureAndLines) {
  ASSERT_TRUE(Create());
  auto m1 = RecordBuilder::Measurement();
  auto m2 = RecordBuilder::Measurement();
  m2.Byte(field::kFileNumber, 6).I32(field::kThickness, -150);
  auto b1 = RecordBuilder::Bscan();
  TKD735FileContent c1{m1.record}, c2{m2.record}, c3{b1.record};
  settings_.font = BlockFont{u"Arial"_s, 12, true, true};
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Measure, &c1, settings_));
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Measure, &c2, settings_));
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Bscan, &c3, settings_));
  EXPECT_TRUE(report_->SendSelectedFile(BlockKind::Bscan, nullptr, settings_));
  EXPECT_EQ(report_->MeasureBlockCount(), 2);
  EXPECT_EQ(report_->BscanBlockCount(), 1);
  EXPECT_EQ(report_->ReportStatusText(), u"Документ-Sample_KD735_1.docx добавлен блок данных."_s);
  EXPECT_TRUE(feedback_.messages.empty());
  // The clipboard keeps the picture of the last block sent.
  EXPECT_EQ(clipboard_.picture(), RenderPicture(c3.record, true));

  DocxReader r = Document();
  auto measure = BlockRows(r.tables().at(0));
  auto bscan = BlockRows(r.tables().at(1));
  ASSERT_EQ(measure.size(), 2u);
  ASSERT_EQ(bscan.size(), 1u);
  EXPECT_EQ(measure[0].number, u"1"_s);
  EXPECT_EQ(measure[1].number, u"2"_s);
  EXPECT_EQ(bscan[0].number, u"1"_s);
  EXPECT_EQ(measure[0].lines, Lines(BuildMeasureBlock(m1.record, settings_, kRu).lines));
  EXPECT_EQ(measure[1].lines, Lines(BuildMeasureBlock(m2.record, settings_, kRu).lines));
  EXPECT_EQ(measure[1].lines.at(4), u"-H = 1,50 мм"_s);
  EXPECT_EQ(bscan[0].lines, Lines(BuildBscanBlock(b1.record, settings_, kRu).lines));

  for (const Row& row : {measure[0], measure[1], bscan[0]}) {
    ASSERT_EQ(row.pictures, 1);
    pugi::xml_node inl = row.node.select_node(".//wp:inline").node();
    EXPECT_EQ(inl.child("wp:extent").attribute("cx").as_llong(), 134 * kEmuPerPixel);
    EXPECT_EQ(inl.child("wp:extent").attribute("cy").as_llong(), 70 * kEmuPerPixel);
    EXPECT_EQ(r.picture(inl.select_node(".//a:blip").node()).size(), QSize(134, 70));
    pugi::xml_node dataCell = DocxReader::cells(row.node).at(2);
    for (pugi::xpath_node run : dataCell.select_nodes(".//w:r")) {
      pugi::xml_node rPr = run.node().child("w:rPr");
      EXPECT_STREQ(rPr.child("w:rFonts").attribute("w:ascii").value(), "Arial");
      EXPECT_STREQ(rPr.child("w:sz").attribute("w:val").value(), "24");
      EXPECT_STREQ(rPr.child("w:b").attribute("w:val").value(), "1");
      EXPECT_STREQ(rPr.child("w:i").attribute("w:val").value(), "1");
      EXPECT_STREQ(rPr.child("w:color").attribute("w:val").value(), "auto");
    }
  }
  EXPECT_EQ(r.picture(bscan[0].node.select_node(".//a:blip").node())
                .convertToFormat(QImage::Format_RGB32),
            RenderPicture(c3.record, true).convertToFormat(QImage::Format_RGB32));
}

TEST_F(WordReportTest, DeviceTextsWithMarkupCharactersAndCyrillicComeOutIntact) {
  ASSERT_TRUE(Create());
  auto m = RecordBuilder::Measurement();
  // "Т<&\"я" and "№<7>" in Windows-1251.
  m.Text(field::kFileName, QByteArray("\xD2<&\"\xFF\0\0\0\0", 9))
      .Text(field::kDeviceNumber, QByteArray("\xB9<7>&\0", 6))
      .Text(field::kDateTimeText, QByteArray("\xE4\xE5\xEA \"<>\0", 8));
  settings_.measure.instrumentLine = true;
  TKD735FileContent c{m.record};
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Measure, &c, settings_));
  auto rows = BlockRows(Document().tables().at(0));
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_GE(rows[0].lines.size(), 3u);
  EXPECT_EQ(rows[0].lines[0], u"КД735  №<7>&"_s);
  EXPECT_EQ(rows[0].lines[1], u"Имя  файла  Т<&\"я N005"_s);
  EXPECT_EQ(rows[0].lines[2], u"Дата дек \"<>"_s);
}

TEST_F(WordReportTest, SameTablePositionsNumberEachKindOnItsOwn) {
  ASSERT_TRUE(Create());
  settings_.bscan.tablePosition = 1;
  TKD735FileContent m{RecordBuilder::Measurement().record}, b{RecordBuilder::Bscan().record};
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Bscan, &b, settings_));
  ASSERT_TRUE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  auto rows = BlockRows(Document().tables().at(0));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].number, u"1"_s);
  EXPECT_EQ(rows[1].number, u"1"_s);
  EXPECT_EQ(rows[2].number, u"2"_s);
  EXPECT_EQ(rows[1].lines.at(3), u"В-скан"_s);
  EXPECT_TRUE(BlockRows(Document().tables().at(1)).empty());
}

TEST_F(WordReportTest, WithoutADocumentNothingIsWritten) {
  TKD735FileContent m{RecordBuilder::Measurement().record};
  EXPECT_FALSE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  EXPECT_EQ(report_->MeasureBlockCount(), 0);
  EXPECT_EQ(report_->ReportStatusText(), u"Нет открытых документов Word."_s);
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_EQ(feedback_.messages[0],
            (ReportMessage{MessageBoxKind::Information,
                           u"Сначала нужно создать документ Word.\rПотом передавайте в него "
                           u"файлы КД735."_s}));
}

TEST_F(WordReportTest, ATablePositionBeyondTheTablesAddsNoRow) {
  ASSERT_TRUE(Create());
  settings_.measure.tablePosition = 5;
  TKD735FileContent m{RecordBuilder::Measurement().record};
  EXPECT_FALSE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  EXPECT_EQ(report_->MeasureBlockCount(), 0);
  EXPECT_EQ(report_->ReportStatusText(), u"Ошибка добавления блока данных в Word."_s);
  ASSERT_EQ(feedback_.messages.size(), 2u);
  EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Plain);
  EXPECT_FALSE(feedback_.messages[0].text.isEmpty());
  EXPECT_EQ(feedback_.messages[1],
            (ReportMessage{MessageBoxKind::Error,
                           u"Ошибка добавления блока данных в Word.\rНет такой ячейки в таблице "
                           u"или\rв документе нет таблицы с номером 5"_s}));
  DocxReader r = Document();
  EXPECT_TRUE(BlockRows(r.tables().at(0)).empty());
  EXPECT_TRUE(BlockRows(r.tables().at(1)).empty());
}

TEST_F(WordReportTest, ATwoColumnTableGetsRowNumberAndPictureThenTheError) {
  // A template whose first table has only two columns.
  DocxReader source(kTemplate);
  pugi::xml_document doc;
  const std::string& xml = source.raw("word/document.xml");
  ASSERT_TRUE(
      doc.load_buffer(xml.data(), xml.size(),
                      pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration));
  pugi::xml_node table = doc.document_element().child("w:body").child("w:tbl");
  table.child("w:tblGrid").remove_child(table.child("w:tblGrid").last_child());
  table.child("w:tr").remove_child(table.child("w:tr").last_child());
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw);
  const QString twoColumns = dir_.filePath(u"two.docx"_s);
  ASSERT_TRUE(source.WriteWith(twoColumns, {{"word/document.xml", out.str()}}));

  ASSERT_TRUE(report_->CreateWordDocument(twoColumns, settings_, u"x"_s));
  TKD735FileContent m{RecordBuilder::Measurement().record};
  EXPECT_FALSE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  EXPECT_EQ(report_->MeasureBlockCount(), 1) << "the number stays increased";
  ASSERT_EQ(feedback_.messages.size(), 2u);
  EXPECT_EQ(feedback_.messages[1].text,
            u"Ошибка добавления блока данных в Word.\rНет такой ячейки в таблице или\rв "
            u"документе нет таблицы с номером 1"_s);
  auto rows = BlockRows(Document().tables().at(0));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].number, u"1"_s);
  EXPECT_EQ(rows[0].pictures, 1);
}

TEST_F(WordReportTest, SendAllStopsAtTheFirstFailureAndWritesTheBlocksBefore) {
  ASSERT_TRUE(Create());
  TKD735FileContent a{RecordBuilder::Measurement().record};
  auto second = RecordBuilder::Measurement();
  second.Byte(field::kFileNumber, 9);
  TKD735FileContent b{second.record};
  const TKD735FileContent* list[] = {&a, nullptr, &b, &a, &b};
  word_->failBlocksFrom = 3;  // the third block fails
  EXPECT_FALSE(report_->SendAllFiles(BlockKind::Measure, list, settings_));
  EXPECT_EQ(word_->blockCalls, 3) << "the entries after the failure are not sent";
  EXPECT_EQ(report_->MeasureBlockCount(), 2);
  EXPECT_EQ(report_->ReportStatusText(), u"Ошибка добавления блока данных в Word."_s);
  ASSERT_EQ(feedback_.messages.size(), 2u);
  EXPECT_EQ(feedback_.messages[0], (ReportMessage{MessageBoxKind::Plain, u"Сбой automation"_s}));
  auto rows = BlockRows(Document().tables().at(0));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].number, u"1"_s);
  EXPECT_EQ(rows[1].number, u"2"_s);
  EXPECT_EQ(rows[1].lines.at(0), u"Имя  файла  TEST0001 N009"_s);

  // The next run goes on numbering.
  word_->failBlocksFrom = 0;
  const TKD735FileContent* one[] = {&a};
  EXPECT_TRUE(report_->SendAllFiles(BlockKind::Measure, one, settings_));
  EXPECT_EQ(BlockRows(Document().tables().at(0)).back().number, u"3"_s);
  EXPECT_TRUE(report_->SendAllFiles(BlockKind::Measure, {}, settings_));
}

TEST_F(WordReportTest, CloseEndsEveryDocument) {
  EXPECT_TRUE(report_->CloseWordDocuments());
  EXPECT_EQ(report_->ReportStatusText(), u"Нет открытых документов Word."_s);
  EXPECT_TRUE(opened_.isEmpty());

  ASSERT_TRUE(Create());
  ASSERT_TRUE(Create());
  const QString last = engine_->ActiveDocumentPath();
  openResult_ = false;
  EXPECT_FALSE(report_->CloseWordDocuments());
  EXPECT_EQ(report_->ReportStatusText(), u"Открыт документ Word -Sample_KD735_2.docx"_s)
      << "a failed close leaves the status";
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Plain);

  openResult_ = true;
  EXPECT_TRUE(report_->CloseWordDocuments());
  EXPECT_EQ(report_->ReportStatusText(), u"Документы Word закрыты."_s);
  EXPECT_EQ(opened_.last(), last);
  TKD735FileContent m{RecordBuilder::Measurement().record};
  EXPECT_FALSE(report_->SendSelectedFile(BlockKind::Measure, &m, settings_));
  EXPECT_EQ(report_->ReportStatusText(), u"Нет открытых документов Word."_s);
}

TEST_F(WordReportTest, ALostConnectionGivesOneBoxThatSaysSo) {
  ASSERT_TRUE(Create());
  TKD735FileContent a{RecordBuilder::Measurement().record};
  const TKD735FileContent* list[] = {&a, &a, &a};
  word_->failBlocksFrom = 2;
  word_->failure = PortStatus::Kind::kConnectionLost;
  EXPECT_FALSE(report_->SendAllFiles(BlockKind::Measure, list, settings_));
  EXPECT_EQ(word_->blockCalls, 2);
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_EQ(feedback_.messages[0],
            (ReportMessage{MessageBoxKind::Error,
                           u"Ошибка добавления блока данных в Word.\rСбой automation"_s}));
  EXPECT_EQ(report_->ReportStatusText(), u"Ошибка добавления блока данных в Word."_s);
  EXPECT_EQ(BlockRows(Document().tables().at(0)).size(), 1u) << "the block before is kept";
}

TEST_F(WordReportTest, SendAllStopsWhenTheSettingsCannotBeHadAndKeepsWhatWasSent) {
  ASSERT_TRUE(Create());
  TKD735FileContent a{RecordBuilder::Measurement().record};
  const TKD735FileContent* list[] = {&a, &a, &a};
  int asked = 0;
  EXPECT_FALSE(
      report_->SendAllFiles(BlockKind::Measure, list, [&]() -> std::optional<ReportSettings> {
        if (++asked > 2) return std::nullopt;
        return settings_;
      }));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(report_->MeasureBlockCount(), 2);
  EXPECT_TRUE(feedback_.messages.empty());
  EXPECT_EQ(BlockRows(Document().tables().at(0)).size(), 2u) << "both blocks are on disk";
}

TEST_F(WordReportTest, TheSummaryGoesAfterTheLastTable) {
  const SummaryTable summary{u"Сводка измерений"_s, {{u"Файлов"_s, u"2"_s}}, settings_.font};
  EXPECT_FALSE(report_->SendSummary(summary));
  EXPECT_EQ(report_->ReportStatusText(), u"Нет открытых документов Word."_s);
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Information);

  ASSERT_TRUE(Create());
  EXPECT_TRUE(report_->SendSummary(summary));
  EXPECT_EQ(report_->ReportStatusText(),
            u"Документ-Sample_KD735_1.docx добавлена сводка измерений."_s);
  DocxReader r = Document();
  ASSERT_EQ(r.tables().size(), 3u);
  EXPECT_EQ(DocxReader::text(DocxReader::rows(r.tables()[2]).at(0)), u"Файлов2"_s);
}

TEST_F(WordReportTest, ClosingNamesTheFilesTheUnseenDocumentsWentTo) {
  ASSERT_TRUE(Create());
  word_->keptOnClose = {u"/home/u/Documents/KD735/Sample_KD735_1.docx"_s};
  EXPECT_TRUE(report_->CloseWordDocuments());
  EXPECT_EQ(report_->ReportStatusText(),
            u"Документы Word закрыты. Несохраненные документы записаны: "
            u"/home/u/Documents/KD735/Sample_KD735_1.docx"_s);
}

// A report of several blocks for the outside readers below.
class ReaderCheck : public WordReportTest {
 protected:
  void MakeReport() {
    ASSERT_TRUE(Create(u"КД735 <№12> & \"Цех\""_s));
    TKD735FileContent m{RecordBuilder::Measurement().record}, b{RecordBuilder::Bscan().record};
    const TKD735FileContent* ms[] = {&m, &m};
    const TKD735FileContent* bs[] = {&b};
    ASSERT_TRUE(report_->SendAllFiles(BlockKind::Measure, ms, settings_));
    ASSERT_TRUE(report_->SendAllFiles(BlockKind::Bscan, bs, settings_));
    path_ = engine_->ActiveDocumentPath();
  }
  QString path_;
};

TEST_F(ReaderCheck, LibreOfficeShowsValuesRowsPicturesAndText) {
  const QString soffice = QStandardPaths::findExecutable(u"soffice"_s);
  KD735_NEED(!soffice.isEmpty(), "LibreOffice");
  MakeReport();
  const QString outDir = dir_.filePath(u"lo-out"_s);
  auto convert = [&](const QString& to) {
    QProcess p;
    p.start(soffice, {u"-env:UserInstallation="_s +
                          QUrl::fromLocalFile(dir_.filePath(u"lo-profile"_s)).toString(),
                      u"--headless"_s, u"--norestore"_s, u"--convert-to"_s, to, u"--outdir"_s,
                      outDir, path_});
    return p.waitForFinished(180000) && p.exitCode() == 0;
  };
  ASSERT_TRUE(convert(u"pdf"_s));
  QFile pdf(QDir(outDir).filePath(QFileInfo(path_).completeBaseName() + u".pdf"_s));
  ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
  EXPECT_TRUE(pdf.read(5) == "%PDF-");
  EXPECT_GT(pdf.size(), 1000);

  // What LibreOffice read, in its own flat format.
  ASSERT_TRUE(convert(u"fodt"_s));
  QFile fodt(QDir(outDir).filePath(QFileInfo(path_).completeBaseName() + u".fodt"_s));
  ASSERT_TRUE(fodt.open(QIODevice::ReadOnly));
  pugi::xml_document flat;
  const QByteArray bytes = fodt.readAll();
  ASSERT_TRUE(flat.load_buffer(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  // Paragraph texts; runs of blanks are stored as <text:s text:c="n"/>.
  auto collect = [](auto&& self, pugi::xml_node n, QString& out) -> void {
    for (pugi::xml_node c : n.children()) {
      if (c.type() == pugi::node_pcdata)
        out += QString::fromUtf8(c.value());
      else if (std::string_view(c.name()) == "text:s")
        out += QString(c.attribute("text:c").as_int(1), u' ');
      else
        self(self, c, out);
    }
  };
  QString text;
  for (pugi::xpath_node p : flat.select_nodes("//text:p | //text:h")) {
    collect(collect, p.node(), text);
    text += u'\n';
  }
  for (const QString& want :
       {u"Номер документа: 0001"_s, u"Дата: 10.12.2026"_s, u"Прибор: КД735 <№12> & \"Цех\""_s,
        u"Имя  файла  TEST0001 N005"_s, u"H = 12,34 мм"_s, u"Длина сканирования Lck = 350 мм"_s,
        u"от -1,50 мм"_s})
    EXPECT_TRUE(text.contains(want)) << want.toStdString();
  EXPECT_EQ(flat.select_nodes("//table:table").size(), 2u);
  EXPECT_EQ(flat.select_nodes("//table:table[1]/table:table-row | "
                              "//table:table[1]/table:table-header-rows/table:table-row")
                .size(),
            3u);
  pugi::xpath_node_set images = flat.select_nodes("//draw:frame[draw:image]");
  EXPECT_EQ(images.size(), 3u);
  // Shown at 134 x 70 pixels of 1/96 inch.
  auto pixels = [](const char* length) {
    QString v = QString::fromUtf8(length);
    const double perInch = v.endsWith(u"in"_s) ? 1.0 : v.endsWith(u"cm"_s) ? 2.54 : 25.4;
    v.chop(2);
    return v.toDouble() / perInch * 96.0;
  };
  for (pugi::xpath_node f : images) {
    EXPECT_NEAR(pixels(f.node().attribute("svg:width").value()), 134.0, 0.5);
    EXPECT_NEAR(pixels(f.node().attribute("svg:height").value()), 70.0, 0.5);
  }
}

TEST_F(ReaderCheck, PythonDocxReadsTablesAndPictures) {
  MakeReport();
  QString error;
  const std::optional<QStringList> read = testing::PythonDocxSummary(path_, &error);
  KD735_NEED(read.has_value(), "python3-docx");
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  const QStringList& out = *read;
  EXPECT_TRUE(out.contains(u"var NUMBER 0001"_s));
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

}  // namespace
}  // namespace kd735
