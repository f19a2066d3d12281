#pragma once

#include <QString>

#include <memory>

#include "report/picture_clipboard.h"
#include "report/word_automation.h"

namespace kd735 {

struct WriterWordOptions {
  // LibreOffice's program; empty: "soffice" on the PATH.
  QString soffice;
  // The helper program kd735_writer; empty: WriterWord::FindHelper().
  QString helper;
  // Empty: the user's own LibreOffice. A LibreOffice the user runs is attached to, one started
  // here stays when the program ends, as Word does. Otherwise the folder of a private profile:
  // a LibreOffice of its own, which the WriterWord that started it ends when it is destroyed.
  QString profileDir;
  // The pipe LibreOffice takes connections on; empty: one per user for the user's profile, one
  // per object for a private profile.
  QString pipeName;
  // A LibreOffice started here shows no window at all (--headless).
  bool headless = false;
  // Time limits. LibreOffice not answering in time ends the operation with an error, and the next
  // action connects anew.
  int startTimeoutMs = 60000;  // from starting LibreOffice until it answers
  int callTimeoutMs = 30000;   // one operation
  int loadTimeoutMs = 120000;  // Documents.Add and storing a document
  int quitTimeoutMs = 120000;  // Quit, which may wait for the user's answer on unsaved documents
};

// The Word operations on a live LibreOffice Writer. The UNO work runs in the helper process
// kd735_writer, which this object starts and talks to over a socket; this object holds no UNO
// object and links no LibreOffice library, so a program with it starts where LibreOffice is
// missing, and a Writer that hangs or dies can neither hang nor crash the program.
//
// Not thread-safe: use it from one thread at a time (it may move between threads, it has no
// thread affinity). Every call returns within its time limit.
class WriterWord final : public WordAutomation {
 public:
  explicit WriterWord(PictureClipboard& clipboard, WriterWordOptions options = {});
  ~WriterWord() override;
  WriterWord(const WriterWord&) = delete;
  WriterWord& operator=(const WriterWord&) = delete;

  // The environment the helper runs in: LibreOffice's program folder first in LD_LIBRARY_PATH,
  // where its UNO libraries must come from.
  static QStringList HelperEnvironment();
  // The helper program: `configured` when it is one, else kd735_writer beside the running
  // program, in <program folder>/../lib/kd735/, or where this build made it. Empty: none.
  static QString FindHelper(const QString& configured = {});
  // LibreOffice's program: `configured`, else soffice on the PATH. Empty: none.
  static QString FindSoffice(const QString& configured = {});

  // Beyond Word's operations: the active document stored to `path` as .docx, .pdf, .odt or .doc
  // by its extension. The document stays open and unchanged; the file is written atomically.
  WordStatus SaveActiveDocument(const QString& path);

  // Beyond Word's operations: the documents this object made are closed without saving (the
  // user's own documents stay).
  WordStatus CloseDocuments();

  // The process (and process group) of the LibreOffice this object started while it runs; 0 when
  // it started none or that one has ended.
  qint64 officeProcessId() const;

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
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kd735
