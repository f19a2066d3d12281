#pragma once

#include <QString>

namespace kd735 {

// Outcome of one Word operation: success, or failure with the error text that Word (or the engine
// standing in for it) gives. Callers show that text to the user unchanged.
class WordStatus {
 public:
  WordStatus() = default;  // success
  static WordStatus Error(const QString& text) {
    WordStatus s;
    s.failed_ = true;
    s.text_ = text;
    return s;
  }
  bool ok() const { return !failed_; }
  explicit operator bool() const { return !failed_; }
  const QString& text() const { return text_; }

 private:
  bool failed_ = false;
  QString text_;
};

// A reference to one open document, as Word's ActiveDocument hands it out.
struct WordDocumentRef {
  int id = -1;
};

// A reference to one table of a document, as Word's Tables.Item(n) hands it out.
struct WordTableRef {
  int document = -1;
  int position = 0;  // 1-based, in the document's order of tables
};

// Paragraph alignment values of Selection.Paragraphs.Alignment.
enum WordAlignment : int {
  kWordAlignLeft = 0,
  kWordAlignCenter = 1,
  kWordAlignRight = 2,
  kWordAlignJustify = 3
};

// Direction of Selection.Collapse: 0 collapses to the end, 1 to the start.
enum WordCollapse : int { kWordCollapseEnd = 0, kWordCollapseStart = 1 };

// Colour index 0 of Selection.Font.ColorIndex: the automatic colour.
inline constexpr int kWordColorAutomatic = 0;

// The Word operations the report uses, in Word's object-model terms, and nothing more. Every call
// except Connect needs a live connection; a failed call returns Word's error text and changes
// nothing further.
class WordAutomation {
 public:
  virtual ~WordAutomation() = default;

  // Application connection. Connect takes one reference to the application (starting it when
  // none runs); Disconnect releases it. Connections may nest; whatever one user action changed is
  // written out when its last reference is released, and a failure to do so is reported there.
  virtual WordStatus Connect() = 0;
  virtual WordStatus Disconnect() = 0;

  // Application.Visible := visible.
  virtual WordStatus SetVisible(bool visible) = 0;
  // Application.Options: one boolean option := value. It steers nothing the report reads.
  virtual WordStatus SetOption(bool value) = 0;
  // Application.Documents.Count.
  virtual WordStatus DocumentsCount(int* count) = 0;
  // Application.Documents.Add(Template, NewTemplate): the new document becomes the active one.
  virtual WordStatus DocumentsAdd(const QString& templatePath, bool newTemplate) = 0;
  // Application.ActiveDocument.
  virtual WordStatus ActiveDocument(WordDocumentRef* document) = 0;
  // Application.Activate.
  virtual WordStatus Activate() = 0;
  // Application.Quit with its optional arguments omitted: every document is closed.
  virtual WordStatus Quit() = 0;

  // Document.Name.
  virtual WordStatus Name(WordDocumentRef document, QString* name) = 0;
  // Document.Variables.Item(name).Value := value.
  virtual WordStatus SetVariable(WordDocumentRef document, const QString& name,
                                 const QString& value) = 0;
  // Document.Fields.Update.
  virtual WordStatus FieldsUpdate(WordDocumentRef document) = 0;
  // Document.Tables.Item(position); an error when the document has no such table.
  virtual WordStatus TablesItem(WordDocumentRef document, int position, WordTableRef* table) = 0;

  // Table.Rows.Add with BeforeRow omitted: a new last row.
  virtual WordStatus RowsAdd(WordTableRef table) = 0;
  // Table.Rows.Count.
  virtual WordStatus RowsCount(WordTableRef table, int* count) = 0;
  // Table.Cell(row, column).Select; an error when the cell does not exist.
  virtual WordStatus CellSelect(WordTableRef table, int row, int column) = 0;

  // Selection operations.
  virtual WordStatus SetSelectionAlignment(int alignment) = 0;
  virtual WordStatus SetSelectionText(const QString& text) = 0;
  // Selection.Paste: the clipboard's picture replaces the selection.
  virtual WordStatus SelectionPaste() = 0;
  virtual WordStatus SetSelectionFontName(const QString& name) = 0;
  virtual WordStatus SetSelectionFontSize(float points) = 0;
  virtual WordStatus SetSelectionFontBold(int bold) = 0;
  virtual WordStatus SetSelectionFontItalic(int italic) = 0;
  virtual WordStatus SetSelectionFontColorIndex(int colorIndex) = 0;
  virtual WordStatus SelectionCollapse(int direction) = 0;
};

}  // namespace kd735
