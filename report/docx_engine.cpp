#include "report/docx_engine.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>

#include "files/atomic_file.h"

namespace kd735 {

namespace {

// Largest template file we read (a guard against a wrong file chosen as template); what its
// parts may unpack to is bounded by the document engine.
constexpr qint64 kMaxTemplateSize = 128ll * 1024 * 1024;
constexpr int kConversionTimeoutMs = 120000;

QString NotBegun() { return QStringLiteral("Нет связи с приложением Word."); }
QString NoDocument() {
  return QStringLiteral("Эта команда недоступна, так как нет открытых документов.");
}
QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

// The run format of a block font, in Word's automatic colour.
DocxRunFormat RunFormatOf(const BlockFont& font) {
  DocxRunFormat format;
  format.fontName = font.name;
  format.halfPoints = static_cast<int>(std::lround(font.size * 2.0));
  format.bold = font.bold;
  format.italic = font.italic;
  format.color = QStringLiteral("auto");
  return format;
}

PortStatus MissingCell(pugi::xml_node row, int table, int rowNumber, int column) {
  return PortStatus::Error(
      QStringLiteral("Запрошенная ячейка не существует: в таблице %1 нет ячейки (%2, %3) "
                     "(строк: %4, ячеек в строке: %5).")
          .arg(table)
          .arg(rowNumber)
          .arg(column)
          .arg(rowNumber)
          .arg(DocxDocument::RowCellCount(row)));
}

}  // namespace

DocxEngine::DocxEngine(DocxEngineOptions options) : options_(std::move(options)) {
  if (options_.reportsFolder.isEmpty()) options_.reportsFolder = DefaultReportsFolder();
  if (options_.soffice.isEmpty())
    options_.soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (!options_.openFile) {
    options_.openFile = [](const QString& path) {
      return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
  }
}

DocxEngine::~DocxEngine() { SaveAll(); }

QString DocxEngine::ActiveDocumentPath() const {
  return documents_.empty() ? QString() : documents_.back().path;
}

PortStatus DocxEngine::CheckBegun() const {
  return depth_ > 0 ? PortStatus() : PortStatus::Error(NotBegun());
}

PortStatus DocxEngine::Active(OpenDocument** found) {
  if (auto s = CheckBegun(); !s) return s;
  if (documents_.empty()) return PortStatus::Error(NoDocument());
  *found = &documents_.back();
  return {};
}

PortStatus DocxEngine::Begin() {
  ++depth_;
  return {};
}

PortStatus DocxEngine::End() {
  if (depth_ == 0) return {};
  if (--depth_ > 0) return {};
  return SaveAll();
}

PortStatus DocxEngine::ReadTemplate(const QString& templatePath, QByteArray* bytes) {
  QFile file(templatePath);
  if (!file.open(QIODevice::ReadOnly))
    return PortStatus::Error(QStringLiteral("Не удается открыть файл шаблона %1: %2")
                                 .arg(Native(templatePath), file.errorString()));
  if (file.size() > kMaxTemplateSize)
    return PortStatus::Error(
        QStringLiteral("Файл шаблона %1 слишком велик.").arg(Native(templatePath)));
  *bytes = file.readAll();
  return {};
}

PortStatus DocxEngine::WorkFolder(QString* path) {
  if (!workDir_) workDir_ = std::make_unique<QTemporaryDir>();
  if (!workDir_->isValid())
    return PortStatus::Error(
        QStringLiteral("Не удается создать временную папку: %1").arg(workDir_->errorString()));
  *path = workDir_->path();
  return {};
}

PortStatus DocxEngine::Convert(const QString& input, const QString& format, const QString& outDir,
                               const QString& what, QString* output) {
  QString work;
  if (auto s = WorkFolder(&work); !s) return s;
  QProcess soffice;
  soffice.setProgram(options_.soffice);
  soffice.setArguments(
      {QStringLiteral("-env:UserInstallation=") +
           QUrl::fromLocalFile(QDir(work).filePath(QStringLiteral("profile"))).toString(),
       QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
       format, QStringLiteral("--outdir"), outDir, input});
  soffice.setProcessChannelMode(QProcess::MergedChannels);
  soffice.start();
  const bool finished = soffice.waitForStarted() && soffice.waitForFinished(kConversionTimeoutMs);
  if (!finished) {
    soffice.kill();
    soffice.waitForFinished();
  }
  const QString extension = format.section(u':', 0, 0);
  *output = QDir(outDir).filePath(QFileInfo(input).completeBaseName() + u'.' + extension);
  if (!finished || soffice.exitCode() != 0 || !QFileInfo::exists(*output)) {
    const QString log = QString::fromLocal8Bit(soffice.readAll()).trimmed();
    return PortStatus::Error(
        QStringLiteral("LibreOffice не смог преобразовать %1 в формат .%2.%3")
            .arg(what, extension, log.isEmpty() ? QString() : QStringLiteral(" ") + log));
  }
  return {};
}

PortStatus DocxEngine::ConvertWord97(const QString& templatePath, const QByteArray& bytes,
                                     QString* converted) {
  const QFileInfo info(templatePath);
  const QString key =
      QStringLiteral("%1|%2|%3")
          .arg(info.absoluteFilePath(), QString::number(info.lastModified().toMSecsSinceEpoch()),
               QString::number(info.size()));
  if (auto it = converted_.find(key); it != converted_.end() && QFileInfo::exists(*it)) {
    *converted = *it;
    return {};
  }
  if (options_.soffice.isEmpty() || !QFileInfo(options_.soffice).isExecutable()) {
    return PortStatus::Error(
        QStringLiteral("Шаблон %1 сохранен в формате Word 97 (.doc). Для его преобразования в "
                       ".docx нужен LibreOffice (программа soffice), но он не установлен. "
                       "Установите LibreOffice или сохраните шаблон в формате .docx.")
            .arg(Native(templatePath)));
  }
  QString work;
  if (auto s = WorkFolder(&work); !s) return s;
  // A copy with a plain name keeps LibreOffice's output name predictable.
  const QString stem = QStringLiteral("template%1").arg(++conversions_);
  const QString input = QDir(work).filePath(stem + QStringLiteral(".doc"));
  const QString outDir = QDir(work).filePath(QStringLiteral("converted"));
  const FileWriteResult copied = WriteFileAtomically(input, bytes, {templatePath});
  if (!copied || !QDir().mkpath(outDir))
    return PortStatus::Error(
        QStringLiteral("Не удается скопировать шаблон %1 для преобразования: %2.")
            .arg(Native(templatePath), copied ? Native(outDir) : copied.message()));
  QString output;
  if (auto s = Convert(input, QStringLiteral("docx:MS Word 2007 XML"), outDir,
                       QStringLiteral("шаблон %1").arg(Native(templatePath)), &output);
      !s)
    return s;
  converted_.insert(key, output);
  *converted = output;
  return {};
}

QString DocxEngine::NewDocumentPath(const QString& templatePath) {
  const QString base = QFileInfo(templatePath).completeBaseName();
  const QDir folder(options_.reportsFolder);
  for (;; ++nextFileNumber_) {
    const QString path =
        folder.filePath(QStringLiteral("%1_%2.docx").arg(base).arg(nextFileNumber_));
    bool taken = QFileInfo::exists(path);
    for (const auto& d : documents_) taken = taken || d.path == path;
    if (!taken) {
      ++nextFileNumber_;
      return path;
    }
  }
}

PortStatus DocxEngine::CreateDocument(const QString& templatePath, QString* name) {
  if (auto s = CheckBegun(); !s) return s;
  if (!QFileInfo(templatePath).isFile())
    return PortStatus::Error(
        QStringLiteral("Файл шаблона %1 не найден.").arg(Native(templatePath)));
  QByteArray bytes;
  if (auto s = ReadTemplate(templatePath, &bytes); !s) return s;
  if (bytes.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1"))) {
    QString converted;
    if (auto s = ConvertWord97(templatePath, bytes, &converted); !s) return s;
    if (auto s = ReadTemplate(converted, &bytes); !s) return s;
  } else if (!bytes.startsWith("PK")) {
    return PortStatus::Error(QStringLiteral("Файл %1 не является документом Word (.docx или .doc).")
                                 .arg(Native(templatePath)));
  }
  QString error;
  std::unique_ptr<DocxDocument> docx = DocxDocument::Load(bytes, &error);
  if (!docx)
    return PortStatus::Error(
        QStringLiteral("Не удается открыть шаблон %1: %2.").arg(Native(templatePath), error));
  if (!QDir().mkpath(options_.reportsFolder))
    return PortStatus::Error(
        QStringLiteral("Не удается создать папку отчетов %1.").arg(Native(options_.reportsFolder)));
  OpenDocument doc;
  doc.path = NewDocumentPath(templatePath);
  doc.name = QFileInfo(doc.path).fileName();
  doc.templatePath = templatePath;
  doc.docx = std::move(docx);
  doc.dirty = true;
  *name = doc.name;
  documents_.push_back(std::move(doc));
  return {};
}

PortStatus DocxEngine::FillVariables(const std::vector<DocumentVariable>& variables) {
  OpenDocument* doc = nullptr;
  if (auto s = Active(&doc); !s) return s;
  for (const DocumentVariable& v : variables) {
    if (v.name.trimmed().isEmpty())
      return PortStatus::Error(QStringLiteral("Имя переменной документа не задано."));
    doc->docx->SetVariable(v.name, v.value);
    doc->dirty = true;
  }
  doc->docx->UpdateFields();
  doc->dirty = true;
  return {};
}

PortStatus DocxEngine::AppendBlock(const DataBlock& block, BlockOutcome* outcome) {
  *outcome = BlockOutcome{};
  if (auto s = CheckBegun(); !s) return s;
  if (documents_.empty()) {
    outcome->noDocument = true;
    return {};
  }
  OpenDocument& doc = documents_.back();
  DocxDocument& docx = *doc.docx;
  const int n = block.tablePosition;
  const int count = docx.TableCount();
  if (n < 1 || n > count)
    return PortStatus::Error(
        QStringLiteral("Запрошенная таблица не существует: в документе %1 нет таблицы с номером "
                       "%2 (таблиц в документе: %3).")
            .arg(doc.name)
            .arg(n)
            .arg(count));

  const pugi::xml_node newRow = docx.BeginRow(n);
  if (!newRow)
    return PortStatus::Error(
        QStringLiteral("В таблице %1 документа %2 нет строк.").arg(n).arg(doc.name));
  // The row joins the table as far as it was filled, also when a step below fails.
  struct Commit {
    DocxDocument& docx;
    ~Commit() { docx.CommitRow(); }
  } commit{docx};
  doc.dirty = true;
  outcome->reached = BlockStage::kRowAdded;
  const int row = docx.RowCount(n) + 1;

  pugi::xml_node cell = DocxDocument::RowCell(newRow, 1);
  if (!cell) return MissingCell(newRow, n, row, 1);
  outcome->reached = BlockStage::kNumberCell;
  docx.SetAlignment(DocxRange{cell}, "center");
  docx.InsertText(DocxRange{cell}, QString::number(block.number), {});

  cell = DocxDocument::RowCell(newRow, 2);
  if (!cell) return MissingCell(newRow, n, row, 2);
  outcome->reached = BlockStage::kPictureCell;
  docx.SetAlignment(DocxRange{cell}, "both");
  if (block.picture.isNull())
    return PortStatus::Error(
        QStringLiteral("Невозможно вставить: буфер обмена не содержит рисунка."));
  const QByteArray png = pictures_.Png(block.picture);
  if (png.isEmpty())
    return PortStatus::Error(QStringLiteral("Не удается записать рисунок в формате PNG."));
  QString error;
  if (!docx.InsertPicture(DocxRange{cell}, png, block.picture.width(), block.picture.height(),
                          &error))
    return PortStatus::Error(QStringLiteral("Не удается вставить рисунок: %1.").arg(error));

  cell = DocxDocument::RowCell(newRow, 3);
  if (!cell) return MissingCell(newRow, n, row, 3);
  if (block.font.size < kMinFontPoints || block.font.size > kMaxFontPoints)
    return PortStatus::Error(QStringLiteral("Значение вне допустимого диапазона."));
  docx.SetAlignment(DocxRange{cell}, "left");
  docx.InsertText(DocxRange{cell}, block.lines.join(u'\n'), RunFormatOf(block.font));
  outcome->reached = BlockStage::kComplete;
  outcome->documentName = doc.name;
  return {};
}

PortStatus DocxEngine::AppendSummary(const SummaryTable& summary, SummaryOutcome* outcome) {
  *outcome = SummaryOutcome{};
  if (auto s = CheckBegun(); !s) return s;
  if (documents_.empty()) {
    outcome->noDocument = true;
    return {};
  }
  OpenDocument& doc = documents_.back();
  doc.docx->AppendSummary(summary.heading, summary.rows, RunFormatOf(summary.font));
  doc.dirty = true;
  outcome->documentName = doc.name;
  return {};
}

PortStatus DocxEngine::Where(DocumentPlace* place) {
  OpenDocument* doc = nullptr;
  if (auto s = Active(&doc); !s) return s;
  *place = DocumentPlace{doc->name, doc->path, false};
  return {};
}

PortStatus DocxEngine::StoreCopy(const QString& path) {
  OpenDocument* doc = nullptr;
  if (auto s = Active(&doc); !s) return s;
  const QString extension = QFileInfo(path).suffix().toLower();
  if (extension != QLatin1String("docx") && extension != QLatin1String("pdf"))
    return PortStatus::Error(
        QStringLiteral("Формат файла %1 не поддерживается: отчет сохраняется в .docx или .pdf.")
            .arg(Native(path)));
  // The document's own file is brought up to date first; the copy is made from it.
  if (doc->dirty)
    if (auto s = SaveDocument(*doc); !s) return s;
  QString source = doc->path;
  QString work;
  if (extension == QLatin1String("pdf")) {
    if (options_.soffice.isEmpty() || !QFileInfo(options_.soffice).isExecutable())
      return PortStatus::Error(QStringLiteral(
          "Для сохранения отчета в PDF нужен LibreOffice (программа soffice), но он не "
          "установлен."));
    if (auto s = WorkFolder(&work); !s) return s;
    const QString outDir = QDir(work).filePath(QStringLiteral("pdf"));
    const QString input = QDir(work).filePath(QStringLiteral("report.docx"));
    QString error;
    const QByteArray docx = doc->docx->Save(&error);
    const FileWriteResult copied =
        docx.isEmpty() ? FileWriteResult() : WriteFileAtomically(input, docx);
    QDir(outDir).removeRecursively();
    if (docx.isEmpty() || !copied || !QDir().mkpath(outDir))
      return PortStatus::Error(
          QStringLiteral("Не удается подготовить отчет %1 к преобразованию: %2.")
              .arg(doc->name, docx.isEmpty() ? error
                              : copied       ? Native(outDir)
                                             : copied.message()));
    if (auto s = Convert(input, QStringLiteral("pdf:writer_pdf_Export"), outDir,
                         QStringLiteral("отчет %1").arg(doc->name), &source);
        !s)
      return s;
  }
  QFile file(source);
  if (!file.open(QIODevice::ReadOnly))
    return PortStatus::Error(QStringLiteral("Не удается прочитать отчет %1: %2")
                                 .arg(Native(source), file.errorString()));
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    return PortStatus::Error(QStringLiteral("Не удается прочитать отчет %1: %2")
                                 .arg(Native(source), file.errorString()));
  const FileWriteResult written = WriteFileAtomically(path, bytes, {doc->templatePath, doc->path});
  if (!written)
    return PortStatus::Error(
        QStringLiteral("Не удается сохранить отчет %1.").arg(written.message()));
  return {};
}

PortStatus DocxEngine::CloseDocuments(CloseOutcome* outcome) {
  *outcome = CloseOutcome{};
  if (auto s = CheckBegun(); !s) return s;
  outcome->documents = DocumentCount();
  if (documents_.empty()) return {};
  // The desktop application must see every change; a document that cannot be written stays open.
  if (auto s = SaveAll(); !s) return s;
  // As Word comes to the front before it quits, the report is shown in the desktop's program.
  const OpenDocument& active = documents_.back();
  if (!options_.openFile(active.path))
    return PortStatus::Error(
        QStringLiteral("Не удается открыть документ %1 приложением по умолчанию.")
            .arg(Native(active.path)));
  documents_.clear();
  return {};
}

PortStatus DocxEngine::SaveDocument(OpenDocument& doc) {
  QString error;
  const QByteArray bytes = doc.docx->Save(&error);
  if (bytes.isEmpty())
    return PortStatus::Error(
        QStringLiteral("Не удается сохранить документ %1: %2.").arg(doc.name, error));
  // Never over the template the document was made from.
  const FileWriteResult written = WriteFileAtomically(doc.path, bytes, {doc.templatePath});
  if (!written)
    return PortStatus::Error(
        QStringLiteral("Не удается сохранить документ %1.").arg(written.message()));
  doc.dirty = false;
  return {};
}

PortStatus DocxEngine::SaveAll() {
  PortStatus result;
  for (auto& d : documents_) {
    if (!d.dirty) continue;
    PortStatus s = SaveDocument(d);
    if (!s && result) result = s;  // report the first failure, still try the others
  }
  return result;
}

}  // namespace kd735
