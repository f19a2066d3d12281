#pragma once

#include <QString>

#include <memory>

#include "report/docx_engine.h"
#include "report/report_port.h"
#include "report/writer_word.h"

// Choosing the engine behind the Word operations of the report.
namespace kd735 {

enum class WordBackend {
  kDocx,    // .docx files of the program's own; always available
  kWriter,  // a live LibreOffice Writer (the kd735_writer helper and LibreOffice installed)
};

struct WordBackendAvailability {
  bool available = false;
  QString reason;  // why not, for the user; empty when available
};

struct WordBackendOptions {
  DocxEngineOptions docx;
  WriterWordOptions writer;
};

// An engine of Word-like operations behind the port.
class AutomationPort : public ReportPort {
 public:
  AutomationPort(WordAutomation& word, PictureClipboard& clipboard)
      : word_(word), clipboard_(clipboard) {}

  PortStatus Begin() override { return Port(word_.Connect()); }
  PortStatus End() override { return Port(word_.Disconnect()); }
  PortStatus CreateDocument(const QString& templatePath, QString* name) override {
    WordDocumentRef doc;
    WordStatus s = word_.SetVisible(true);
    if (s) s = word_.DocumentsAdd(templatePath, false);
    if (s) s = word_.ActiveDocument(&doc);
    if (s) s = word_.Name(doc, name);
    return Port(s);
  }
  PortStatus FillVariables(const std::vector<DocumentVariable>& variables) override {
    WordDocumentRef doc;
    WordStatus s = word_.ActiveDocument(&doc);
    for (const auto& v : variables)
      if (s) s = word_.SetVariable(doc, v.name, v.value);
    if (s) s = word_.FieldsUpdate(doc);
    return Port(s);
  }
  PortStatus AppendBlock(const DataBlock& block, BlockOutcome* outcome) override {
    *outcome = {};
    int count = 0;
    WordStatus s = word_.DocumentsCount(&count);
    if (s && count <= 0) {
      outcome->noDocument = true;
      return {};
    }
    WordDocumentRef doc;
    WordTableRef table;
    const int n = block.tablePosition;
    int row = 0;
    if (s) s = word_.ActiveDocument(&doc);
    if (s) s = word_.TablesItem(doc, n, &table);
    if (s) s = word_.RowsAdd(table);
    if (!s) return Port(s);
    outcome->reached = BlockStage::kRowAdded;
    if (s) s = word_.RowsCount(table, &row);
    if (s) s = word_.CellSelect(table, row, 1);
    if (!s) return Port(s);
    outcome->reached = BlockStage::kNumberCell;
    if (s) s = word_.SetSelectionAlignment(kWordAlignCenter);
    if (s) s = word_.SetSelectionText(QString::number(block.number));
    if (s) s = word_.CellSelect(table, row, 2);
    if (!s) return Port(s);
    outcome->reached = BlockStage::kPictureCell;
    clipboard_.SetPicture(block.picture);
    if (s) s = word_.SetSelectionAlignment(kWordAlignJustify);
    if (s) s = word_.SelectionPaste();
    if (s) s = word_.CellSelect(table, row, 3);
    if (s) s = word_.SetSelectionFontName(block.font.name);
    if (s) s = word_.SetSelectionFontSize(static_cast<float>(block.font.size));
    if (s) s = word_.SetSelectionFontBold(block.font.bold ? 1 : 0);
    if (s) s = word_.SetSelectionFontItalic(block.font.italic ? 1 : 0);
    if (s) s = word_.SetSelectionFontColorIndex(kWordColorAutomatic);
    if (s) s = word_.SetSelectionAlignment(kWordAlignLeft);
    QString text;
    for (const QString& line : block.lines) text += line + QStringLiteral("\r\n");
    if (s) s = word_.SetSelectionText(text);
    if (s) s = word_.SelectionCollapse(kWordCollapseEnd);
    if (s) s = word_.Name(doc, &outcome->documentName);
    if (s) outcome->reached = BlockStage::kComplete;
    return Port(s);
  }
  PortStatus AppendSummary(const SummaryTable&, SummaryOutcome*) override {
    return PortStatus::Error(QStringLiteral("Сводка в LibreOffice Writer не поддерживается."));
  }
  PortStatus Where(DocumentPlace* place) override {
    WordDocumentRef doc;
    WordStatus s = word_.ActiveDocument(&doc);
    if (s) s = word_.Name(doc, &place->name);
    place->shownToUser = true;
    return Port(s);
  }
  PortStatus StoreCopy(const QString& path) override {
    if (auto* writer = dynamic_cast<WriterWord*>(&word_))
      return Port(writer->SaveActiveDocument(path));
    return PortStatus::Error(QStringLiteral("Копия документа не поддерживается."));
  }
  PortStatus CloseDocuments(CloseOutcome* outcome) override {
    *outcome = {};
    WordStatus s = word_.DocumentsCount(&outcome->documents);
    if (s && outcome->documents > 0) s = word_.Activate();
    if (s && outcome->documents > 0) s = word_.Quit();
    return Port(s);
  }

 private:
  static PortStatus Port(const WordStatus& s) {
    return s ? PortStatus() : PortStatus::Error(s.text());
  }
  WordAutomation& word_;
  PictureClipboard& clipboard_;
};

struct WriterWordHolder {
  explicit WriterWordHolder(const WriterWordOptions& options) : writer(clipboard, options) {}
  PictureClipboard clipboard;
  WriterWord writer;
};

// LibreOffice Writer behind the port.
class WriterPort final : private WriterWordHolder, public AutomationPort {
 public:
  explicit WriterPort(const WriterWordOptions& options)
      : WriterWordHolder(options), AutomationPort(writer, clipboard) {}
  WriterWord& word() { return writer; }
};

// The engine's name for the settings ("LibreOffice Writer", "Файлы .docx").
QString WordBackendName(WordBackend backend);

// Whether the engine can be loaded and started. For Writer: its helper is found and its
// libraries load, and LibreOffice with Writer is installed. Runs the helper once (some tens of
// milliseconds, at most a few seconds); starts no LibreOffice.
WordBackendAvailability CheckWordBackend(WordBackend backend,
                                         const WordBackendOptions& options = {});

// The engine used until the user chooses: Writer when it is available, else the .docx engine.
WordBackend DefaultWordBackend(const WordBackendOptions& options = {});

// A new engine of the given kind. Writer's is made even when it is unavailable: its Begin then
// fails with the reason.
std::unique_ptr<ReportPort> CreateReportPort(WordBackend backend,
                                             const WordBackendOptions& options = {});

}  // namespace kd735
