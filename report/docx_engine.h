#pragma once

#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "report/block_picture.h"
#include "report/docx_document.h"
#include "report/report_port.h"

class QTemporaryDir;

namespace kd735 {

struct DocxEngineOptions {
  // Folder the documents are kept in; empty: DefaultReportsFolder().
  QString reportsFolder;
  // LibreOffice's program, used to turn a Word 97 (.doc) template into .docx and a report into
  // PDF; empty: "soffice" on the PATH. A path that names no program means LibreOffice is missing.
  QString soffice;
  // Opens a file with the desktop's default application; empty: QDesktopServices.
  std::function<bool(const QString& path)> openFile;
};

// The report on .docx files of the program's own. Documents live in this object, each one kept on
// disk as a .docx in the reports folder; the last one made is the active one. What one user
// action (its outermost Begin/End) changed is written when it ends, each file atomically, so an
// interrupted run never leaves a broken report behind.
class DocxEngine final : public ReportPort {
 public:
  explicit DocxEngine(DocxEngineOptions options = {});
  ~DocxEngine() override;  // writes what is still unsaved

  // The file of the active document; empty when there is none.
  QString ActiveDocumentPath() const;
  // Documents open in the engine.
  int DocumentCount() const { return static_cast<int>(documents_.size()); }

  // An action: what it changed is written to disk when the outermost one ends.
  PortStatus Begin() override;
  PortStatus End() override;
  // Documents: a file each in the reports folder.
  PortStatus CreateDocument(const QString& templatePath, QString* name) override;
  PortStatus Where(DocumentPlace* place) override;
  PortStatus StoreCopy(const QString& path) override;
  PortStatus CloseDocuments(CloseOutcome* outcome) override;
  // The active document's content, edited in memory.
  PortStatus FillVariables(const std::vector<DocumentVariable>& variables) override;
  PortStatus AppendBlock(const DataBlock& block, BlockOutcome* outcome) override;
  PortStatus AppendSummary(const SummaryTable& summary, SummaryOutcome* outcome) override;

 private:
  struct OpenDocument {
    QString path;
    QString name;
    QString templatePath;  // never written over
    std::unique_ptr<DocxDocument> docx;
    bool dirty = false;
  };

  PortStatus CheckBegun() const;
  // The active document; an error when there is none.
  PortStatus Active(OpenDocument** found);
  PortStatus SaveAll();
  PortStatus SaveDocument(OpenDocument& doc);
  PortStatus ReadTemplate(const QString& templatePath, QByteArray* bytes);
  // Runs LibreOffice headless on `input` to make `format` ("docx", "pdf") in `outDir`; the file
  // made there is returned in `output`.
  PortStatus Convert(const QString& input, const QString& format, const QString& outDir,
                     const QString& what, QString* output);
  // `bytes` are the template's, as read.
  PortStatus ConvertWord97(const QString& templatePath, const QByteArray& bytes,
                           QString* converted);
  PortStatus WorkFolder(QString* path);
  QString NewDocumentPath(const QString& templatePath);

  DocxEngineOptions options_;
  std::vector<OpenDocument> documents_;  // the last one is the active one
  int nextFileNumber_ = 1;
  int depth_ = 0;  // nesting of Begin/End
  BlockPictureEncoder pictures_;
  std::unique_ptr<QTemporaryDir> workDir_;  // LibreOffice profile and converted files
  QMap<QString, QString> converted_;        // template identity -> converted .docx
  int conversions_ = 0;
};

}  // namespace kd735
