#pragma once

#include <QString>

#include "report/block_picture.h"
#include "report/picture_clipboard.h"
#include "report/word_automation.h"
#include "report/writer_engine.h"

namespace kd735 {

using WriterWordOptions = WriterEngineOptions;

// The Word operations one by one on a live LibreOffice Writer, for code that still works through
// WordAutomation: each operation is one message to the helper of a WriterEngine, which starts,
// guards and ends everything as it does for the port. The report itself uses WriterEngine.
//
// Not thread-safe: use it from one thread at a time.
class WriterWord final : public WordAutomation {
 public:
  explicit WriterWord(PictureClipboard& clipboard, WriterWordOptions options = {});
  ~WriterWord() override;
  WriterWord(const WriterWord&) = delete;
  WriterWord& operator=(const WriterWord&) = delete;

  static QStringList HelperEnvironment() { return WriterEngine::HelperEnvironment(); }
  static QString FindHelper(const QString& configured = {}) {
    return WriterEngine::FindHelper(configured);
  }
  static QString FindSoffice(const QString& configured = {}) {
    return WriterEngine::FindSoffice(configured);
  }

  // Beyond Word's operations: the active document stored to `path` as .docx, .pdf, .odt or .doc
  // by its extension. The document stays open and unchanged; the file is written atomically.
  WordStatus SaveActiveDocument(const QString& path);

  // Beyond Word's operations: the documents this object made are closed without saving (the
  // user's own documents stay).
  WordStatus CloseDocuments();

  qint64 officeProcessId() const { return engine_.officeProcessId(); }
  WriterEngine& engine() { return engine_; }

  WordStatus Connect() override;
  WordStatus Disconnect() override;
  WordStatus SetVisible(bool visible) override;
  WordStatus SetOption(bool value) override;
  WordStatus DocumentsCount(int* count) override;
  WordStatus DocumentsAdd(const QString& templatePath, bool newTemplate) override;
  WordStatus ActiveDocument(WordDocumentRef* document) override;
  WordStatus Activate() override;
  WordStatus Quit() override;
  WordStatus Name(WordDocumentRef document, QString* name) override;
  WordStatus SetVariable(WordDocumentRef document, const QString& name,
                         const QString& value) override;
  WordStatus FieldsUpdate(WordDocumentRef document) override;
  WordStatus TablesItem(WordDocumentRef document, int position, WordTableRef* table) override;
  WordStatus RowsAdd(WordTableRef table) override;
  WordStatus RowsCount(WordTableRef table, int* count) override;
  WordStatus CellSelect(WordTableRef table, int row, int column) override;
  WordStatus SetSelectionAlignment(int alignment) override;
  WordStatus SetSelectionText(const QString& text) override;
  WordStatus SelectionPaste() override;
  WordStatus SetSelectionFontName(const QString& name) override;
  WordStatus SetSelectionFontSize(float points) override;
  WordStatus SetSelectionFontBold(int bold) override;
  WordStatus SetSelectionFontItalic(int italic) override;
  WordStatus SetSelectionFontColorIndex(int colorIndex) override;
  WordStatus SelectionCollapse(int direction) override;

 private:
  WordStatus Op(writer_protocol::Op op, std::vector<writer_protocol::Legacy::Value> args = {},
                writer_protocol::Legacy::Result* result = nullptr, int timeoutMs = 0);

  PictureClipboard& clipboard_;
  WriterEngine engine_;
  BlockPictureEncoder pictures_;
};

}  // namespace kd735
