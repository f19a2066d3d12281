#pragma once

#include <QHash>
#include <QImage>
#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "report/docx_document.h"
#include "report/picture_clipboard.h"
#include "report/word_automation.h"

class QTemporaryDir;

namespace kd735 {

struct DocxWordOptions {
  // Folder the documents are kept in; empty: DocxWord::DefaultReportsFolder().
  QString reportsFolder;
  // LibreOffice's program, used to turn a Word 97 (.doc) template into .docx once; empty: looked
  // up on the PATH as "soffice". A path that names no program means LibreOffice is missing.
  QString soffice;
  // Opens a file with the desktop's default application; empty: QDesktopServices.
  std::function<bool(const QString& path)> openFile;
};

// The Word operations on .docx files of the program's own. Documents live in this object, each
// one kept on disk as a .docx in the reports folder; the last one added is the active one. What
// one user action (the span of its outermost connection) changed is written when it ends, each
// file atomically, so an interrupted run never leaves a broken report behind.
class DocxWord final : public WordAutomation {
 public:
  explicit DocxWord(PictureClipboard& clipboard, DocxWordOptions options = {});
  ~DocxWord() override;  // writes what is still unsaved

  // The user's documents folder followed by "KD735".
  static QString DefaultReportsFolder();

  // The file of a document, or of the active one; empty when there is none.
  QString DocumentPath(WordDocumentRef document) const;
  QString ActiveDocumentPath() const;
  bool visible() const { return visible_; }

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
  struct OpenDocument {
    int id = 0;
    QString path;
    QString name;
    QString templatePath;  // never written over
    std::unique_ptr<DocxDocument> docx;
    bool dirty = false;
  };
  struct Selection {
    int document = -1;  // -1: nothing selected
    DocxRange range;
    DocxRunFormat font;  // format set on the selection, given to the text put there
  };

  WordStatus CheckConnected() const;
  WordStatus Find(WordDocumentRef document, OpenDocument** found);
  WordStatus FindTable(WordTableRef table, OpenDocument** found);
  WordStatus SelectionDocument(OpenDocument** found);
  WordStatus SaveAll();
  WordStatus SaveDocument(OpenDocument& doc);
  WordStatus ReadTemplate(const QString& templatePath, QByteArray* bytes);
  // `bytes` are the template's, as read.
  WordStatus ConvertWord97(const QString& templatePath, const QByteArray& bytes,
                           QString* converted);
  WordStatus ApplyFont(const DocxRunFormat& change);
  QString NewDocumentPath(const QString& templatePath);
  QByteArray EncodePng(const QImage& picture);

  PictureClipboard& clipboard_;
  DocxWordOptions options_;
  std::vector<OpenDocument> documents_;
  int activeId_ = -1;
  int nextId_ = 1;
  int nextFileNumber_ = 1;
  int connections_ = 0;
  bool visible_ = false;
  Selection selection_;
  std::unique_ptr<QTemporaryDir> workDir_;  // LibreOffice profile and converted templates
  QMap<QString, QString> converted_;        // template identity -> converted .docx
  QHash<QByteArray, QByteArray> encoded_;   // picture digest -> PNG bytes
};

}  // namespace kd735
