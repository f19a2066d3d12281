#include "report/docx_word.h"

#include <QCryptographicHash>
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
#include "files/bitmap_file.h"

namespace kd735 {

namespace {

// Largest template file we read (a guard against a wrong file chosen as template); what its
// parts may unpack to is bounded by the document engine.
constexpr qint64 kMaxTemplateSize = 128ll * 1024 * 1024;
constexpr int kConversionTimeoutMs = 120000;
// Pictures kept encoded for a repeated paste.
constexpr qsizetype kEncodedPictureCache = 64;

QString NotConnected() { return QStringLiteral("Нет связи с приложением Word."); }
QString OutOfRange() { return QStringLiteral("Значение вне допустимого диапазона."); }

const char* Justification(int alignment) {
  switch (alignment) {
    case kWordAlignLeft:
      return "left";
    case kWordAlignCenter:
      return "center";
    case kWordAlignRight:
      return "right";
    case kWordAlignJustify:
      return "both";
    default:
      return nullptr;
  }
}

// Colours of Word's colour indexes 1 to 16; index 0 is the automatic colour.
const char* const kColorIndex[] = {"auto",   "000000", "0000FF", "00FFFF", "00FF00", "FF00FF",
                                   "FF0000", "FFFF00", "FFFFFF", "000080", "008080", "008000",
                                   "800080", "800000", "808000", "808080", "C0C0C0"};

}  // namespace

DocxWord::DocxWord(PictureClipboard& clipboard, DocxWordOptions options)
    : clipboard_(clipboard), options_(std::move(options)) {
  if (options_.reportsFolder.isEmpty()) options_.reportsFolder = DefaultReportsFolder();
  if (options_.soffice.isEmpty())
    options_.soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
  if (!options_.openFile) {
    options_.openFile = [](const QString& path) {
      return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
  }
}

DocxWord::~DocxWord() { SaveAll(); }

QString DocxWord::DefaultReportsFolder() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
      .filePath(QStringLiteral("KD735"));
}

QString DocxWord::DocumentPath(WordDocumentRef document) const {
  for (const auto& d : documents_)
    if (d.id == document.id) return d.path;
  return {};
}

QString DocxWord::ActiveDocumentPath() const { return DocumentPath(WordDocumentRef{activeId_}); }

WordStatus DocxWord::CheckConnected() const {
  return connections_ > 0 ? WordStatus() : WordStatus::Error(NotConnected());
}

WordStatus DocxWord::Connect() {
  ++connections_;
  return {};
}

WordStatus DocxWord::Disconnect() {
  if (connections_ == 0) return {};
  if (--connections_ > 0) return {};
  return SaveAll();
}

WordStatus DocxWord::SetVisible(bool visible) {
  if (auto s = CheckConnected(); !s) return s;
  visible_ = visible;
  return {};
}

WordStatus DocxWord::SetOption(bool) { return CheckConnected(); }

WordStatus DocxWord::DocumentsCount(int* count) {
  if (auto s = CheckConnected(); !s) return s;
  *count = static_cast<int>(documents_.size());
  return {};
}

WordStatus DocxWord::ReadTemplate(const QString& templatePath, QByteArray* bytes) {
  QFile file(templatePath);
  if (!file.open(QIODevice::ReadOnly))
    return WordStatus::Error(QStringLiteral("Не удается открыть файл шаблона %1: %2")
                                 .arg(QDir::toNativeSeparators(templatePath), file.errorString()));
  if (file.size() > kMaxTemplateSize)
    return WordStatus::Error(QStringLiteral("Файл шаблона %1 слишком велик.")
                                 .arg(QDir::toNativeSeparators(templatePath)));
  *bytes = file.readAll();
  return {};
}

WordStatus DocxWord::ConvertWord97(const QString& templatePath, const QByteArray& bytes,
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
    return WordStatus::Error(
        QStringLiteral("Шаблон %1 сохранен в формате Word 97 (.doc). Для его преобразования в "
                       ".docx нужен LibreOffice (программа soffice), но он не установлен. "
                       "Установите LibreOffice или сохраните шаблон в формате .docx.")
            .arg(QDir::toNativeSeparators(templatePath)));
  }
  if (!workDir_) workDir_ = std::make_unique<QTemporaryDir>();
  if (!workDir_->isValid())
    return WordStatus::Error(
        QStringLiteral("Не удается создать временную папку: %1").arg(workDir_->errorString()));
  // A copy with a plain name keeps LibreOffice's output name predictable.
  const QString stem = QStringLiteral("template%1").arg(converted_.size() + 1);
  const QString input = workDir_->filePath(stem + QStringLiteral(".doc"));
  const QString outDir = workDir_->filePath(QStringLiteral("converted"));
  const FileWriteResult copied = WriteFileAtomically(input, bytes, {templatePath});
  if (!copied || !QDir().mkpath(outDir))
    return WordStatus::Error(
        QStringLiteral("Не удается скопировать шаблон %1 для преобразования: %2.")
            .arg(QDir::toNativeSeparators(templatePath),
                 copied ? QDir::toNativeSeparators(outDir) : copied.message()));

  QProcess soffice;
  soffice.setProgram(options_.soffice);
  soffice.setArguments(
      {QStringLiteral("-env:UserInstallation=") +
           QUrl::fromLocalFile(workDir_->filePath(QStringLiteral("profile"))).toString(),
       QStringLiteral("--headless"), QStringLiteral("--norestore"), QStringLiteral("--convert-to"),
       QStringLiteral("docx:MS Word 2007 XML"), QStringLiteral("--outdir"), outDir, input});
  soffice.setProcessChannelMode(QProcess::MergedChannels);
  soffice.start();
  const bool finished = soffice.waitForStarted() && soffice.waitForFinished(kConversionTimeoutMs);
  if (!finished) {
    soffice.kill();
    soffice.waitForFinished();
  }
  const QString output = QDir(outDir).filePath(stem + QStringLiteral(".docx"));
  if (!finished || soffice.exitCode() != 0 || !QFileInfo::exists(output)) {
    const QString log = QString::fromLocal8Bit(soffice.readAll()).trimmed();
    return WordStatus::Error(
        QStringLiteral("LibreOffice не смог преобразовать шаблон %1 в формат .docx.%2")
            .arg(QDir::toNativeSeparators(templatePath),
                 log.isEmpty() ? QString() : QStringLiteral(" ") + log));
  }
  converted_.insert(key, output);
  *converted = output;
  return {};
}

QString DocxWord::NewDocumentPath(const QString& templatePath) {
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

WordStatus DocxWord::DocumentsAdd(const QString& templatePath, bool newTemplate) {
  if (auto s = CheckConnected(); !s) return s;
  if (newTemplate)
    return WordStatus::Error(QStringLiteral("Создание нового шаблона не поддерживается."));
  if (!QFileInfo(templatePath).isFile())
    return WordStatus::Error(
        QStringLiteral("Файл шаблона %1 не найден.").arg(QDir::toNativeSeparators(templatePath)));
  QByteArray bytes;
  if (auto s = ReadTemplate(templatePath, &bytes); !s) return s;
  if (bytes.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1"))) {
    QString converted;
    if (auto s = ConvertWord97(templatePath, bytes, &converted); !s) return s;
    if (auto s = ReadTemplate(converted, &bytes); !s) return s;
  } else if (!bytes.startsWith("PK")) {
    return WordStatus::Error(QStringLiteral("Файл %1 не является документом Word (.docx или .doc).")
                                 .arg(QDir::toNativeSeparators(templatePath)));
  }
  QString error;
  std::unique_ptr<DocxDocument> docx = DocxDocument::Load(bytes, &error);
  if (!docx)
    return WordStatus::Error(QStringLiteral("Не удается открыть шаблон %1: %2.")
                                 .arg(QDir::toNativeSeparators(templatePath), error));
  if (!QDir().mkpath(options_.reportsFolder))
    return WordStatus::Error(QStringLiteral("Не удается создать папку отчетов %1.")
                                 .arg(QDir::toNativeSeparators(options_.reportsFolder)));
  OpenDocument doc;
  doc.id = nextId_++;
  doc.path = NewDocumentPath(templatePath);
  doc.name = QFileInfo(doc.path).fileName();
  doc.templatePath = templatePath;
  doc.docx = std::move(docx);
  doc.dirty = true;
  activeId_ = doc.id;
  documents_.push_back(std::move(doc));
  selection_ = Selection{};
  return {};
}

WordStatus DocxWord::ActiveDocument(WordDocumentRef* document) {
  if (auto s = CheckConnected(); !s) return s;
  if (activeId_ < 0)
    return WordStatus::Error(
        QStringLiteral("Эта команда недоступна, так как нет открытых документов."));
  document->id = activeId_;
  return {};
}

WordStatus DocxWord::Activate() {
  if (auto s = CheckConnected(); !s) return s;
  if (activeId_ < 0) return {};
  if (auto s = SaveAll(); !s) return s;  // the desktop application must see every change
  OpenDocument* doc = nullptr;
  if (auto s = Find(WordDocumentRef{activeId_}, &doc); !s) return s;
  if (!options_.openFile(doc->path))
    return WordStatus::Error(
        QStringLiteral("Не удается открыть документ %1 приложением по умолчанию.")
            .arg(QDir::toNativeSeparators(doc->path)));
  return {};
}

WordStatus DocxWord::Quit() {
  if (auto s = CheckConnected(); !s) return s;
  if (auto s = SaveAll(); !s) return s;  // a document that cannot be written stays open
  documents_.clear();
  activeId_ = -1;
  selection_ = Selection{};
  visible_ = false;
  return {};
}

WordStatus DocxWord::Find(WordDocumentRef document, OpenDocument** found) {
  if (auto s = CheckConnected(); !s) return s;
  for (auto& d : documents_) {
    if (d.id == document.id) {
      *found = &d;
      return {};
    }
  }
  return WordStatus::Error(QStringLiteral("Документ закрыт."));
}

WordStatus DocxWord::Name(WordDocumentRef document, QString* name) {
  OpenDocument* doc = nullptr;
  if (auto s = Find(document, &doc); !s) return s;
  *name = doc->name;
  return {};
}

WordStatus DocxWord::SetVariable(WordDocumentRef document, const QString& name,
                                 const QString& value) {
  OpenDocument* doc = nullptr;
  if (auto s = Find(document, &doc); !s) return s;
  if (name.trimmed().isEmpty())
    return WordStatus::Error(QStringLiteral("Имя переменной документа не задано."));
  doc->docx->SetVariable(name, value);
  doc->dirty = true;
  return {};
}

WordStatus DocxWord::FieldsUpdate(WordDocumentRef document) {
  OpenDocument* doc = nullptr;
  if (auto s = Find(document, &doc); !s) return s;
  doc->docx->UpdateFields();
  doc->dirty = true;
  return {};
}

WordStatus DocxWord::TablesItem(WordDocumentRef document, int position, WordTableRef* table) {
  OpenDocument* doc = nullptr;
  if (auto s = Find(document, &doc); !s) return s;
  const int count = doc->docx->TableCount();
  if (position < 1 || position > count)
    return WordStatus::Error(
        QStringLiteral("Запрошенная таблица не существует: в документе %1 нет таблицы с номером "
                       "%2 (таблиц в документе: %3).")
            .arg(doc->name)
            .arg(position)
            .arg(count));
  table->document = document.id;
  table->position = position;
  return {};
}

WordStatus DocxWord::FindTable(WordTableRef table, OpenDocument** found) {
  if (auto s = Find(WordDocumentRef{table.document}, found); !s) return s;
  if (table.position < 1 || table.position > (*found)->docx->TableCount())
    return WordStatus::Error(QStringLiteral("Таблица удалена."));
  return {};
}

WordStatus DocxWord::RowsAdd(WordTableRef table) {
  OpenDocument* doc = nullptr;
  if (auto s = FindTable(table, &doc); !s) return s;
  doc->docx->AddRow(table.position);
  doc->dirty = true;
  return {};
}

WordStatus DocxWord::RowsCount(WordTableRef table, int* count) {
  OpenDocument* doc = nullptr;
  if (auto s = FindTable(table, &doc); !s) return s;
  *count = doc->docx->RowCount(table.position);
  return {};
}

WordStatus DocxWord::CellSelect(WordTableRef table, int row, int column) {
  OpenDocument* doc = nullptr;
  if (auto s = FindTable(table, &doc); !s) return s;
  pugi::xml_node cell = doc->docx->Cell(table.position, row, column);
  if (!cell)
    return WordStatus::Error(
        QStringLiteral("Запрошенная ячейка не существует: в таблице %1 нет ячейки (%2, %3) "
                       "(строк: %4, ячеек в строке: %5).")
            .arg(table.position)
            .arg(row)
            .arg(column)
            .arg(doc->docx->RowCount(table.position))
            .arg(doc->docx->CellCount(table.position, row)));
  selection_ = Selection{};
  selection_.document = doc->id;
  selection_.range.cell = cell;
  return {};
}

WordStatus DocxWord::SelectionDocument(OpenDocument** found) {
  if (auto s = CheckConnected(); !s) return s;
  if (selection_.document < 0 || !selection_.range.cell)
    return WordStatus::Error(QStringLiteral("Нет выделенной ячейки таблицы."));
  return Find(WordDocumentRef{selection_.document}, found);
}

WordStatus DocxWord::SetSelectionAlignment(int alignment) {
  OpenDocument* doc = nullptr;
  if (auto s = SelectionDocument(&doc); !s) return s;
  const char* jc = Justification(alignment);
  if (!jc) return WordStatus::Error(OutOfRange());
  doc->docx->SetAlignment(selection_.range, jc);
  doc->dirty = true;
  return {};
}

WordStatus DocxWord::SetSelectionText(const QString& text) {
  OpenDocument* doc = nullptr;
  if (auto s = SelectionDocument(&doc); !s) return s;
  doc->docx->InsertText(selection_.range, text, selection_.font);
  doc->dirty = true;
  return {};
}

WordStatus DocxWord::SelectionPaste() {
  OpenDocument* doc = nullptr;
  if (auto s = SelectionDocument(&doc); !s) return s;
  if (!clipboard_.hasPicture())
    return WordStatus::Error(
        QStringLiteral("Невозможно вставить: буфер обмена не содержит рисунка."));
  const QImage& picture = clipboard_.picture();
  const QByteArray png = EncodePng(picture);
  if (png.isEmpty())
    return WordStatus::Error(QStringLiteral("Не удается записать рисунок в формате PNG."));
  QString error;
  if (!doc->docx->InsertPicture(selection_.range, png, picture.width(), picture.height(), &error))
    return WordStatus::Error(QStringLiteral("Не удается вставить рисунок: %1.").arg(error));
  doc->dirty = true;
  // Like a paste in Word, the insertion point ends up behind the picture.
  if (selection_.range.kind == DocxRange::kWholeCell) selection_.range.kind = DocxRange::kEnd;
  return {};
}

QByteArray DocxWord::EncodePng(const QImage& picture) {
  // The same picture pasted again (a file sent twice) is encoded once.
  QCryptographicHash hash(QCryptographicHash::Sha1);
  const int size[] = {picture.width(), picture.height(), int(picture.format())};
  hash.addData(QByteArrayView(reinterpret_cast<const char*>(size), sizeof size));
  hash.addData(
      QByteArrayView(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes()));
  const QByteArray key = hash.result();
  if (auto it = encoded_.constFind(key); it != encoded_.constEnd()) return *it;

  // Instrument pictures have a handful of colours: a palette image holds them exactly and
  // encodes several times faster than full colour.
  QImage image = picture;
  if (image.format() != QImage::Format_Indexed8 && image.depth() >= 16 &&
      !image.hasAlphaChannel()) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QList<QRgb> colors;
    for (int y = 0; y < rgb.height() && colors.size() <= 256; ++y) {
      const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
      for (int x = 0; x < rgb.width() && colors.size() <= 256; ++x)
        if (!colors.contains(line[x])) colors.append(line[x]);
    }
    // With no more than 256 colours the conversion keeps every pixel exactly.
    if (colors.size() <= 256)
      image = rgb.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
  }
  image.setDotsPerMeterX(3780);  // 96 pixels per inch, the size the picture is shown at
  image.setDotsPerMeterY(3780);
  const QByteArray png = EncodeImage(image, "PNG");
  if (png.isEmpty()) return {};
  if (encoded_.size() >= kEncodedPictureCache) encoded_.clear();
  encoded_.insert(key, png);
  return png;
}

WordStatus DocxWord::ApplyFont(const DocxRunFormat& change) {
  OpenDocument* doc = nullptr;
  if (auto s = SelectionDocument(&doc); !s) return s;
  DocxRunFormat& f = selection_.font;
  if (change.fontName) f.fontName = change.fontName;
  if (change.halfPoints) f.halfPoints = change.halfPoints;
  if (change.bold) f.bold = change.bold;
  if (change.italic) f.italic = change.italic;
  if (change.color) f.color = change.color;
  doc->docx->ApplyFormat(selection_.range, change);
  doc->dirty = true;
  return {};
}

WordStatus DocxWord::SetSelectionFontName(const QString& name) {
  DocxRunFormat f;
  f.fontName = name;
  return ApplyFont(f);
}

WordStatus DocxWord::SetSelectionFontSize(float points) {
  // Word takes sizes from 1 to 1638 points in half-point steps.
  if (!std::isfinite(points) || points < 1.0f || points > 1638.0f)
    return WordStatus::Error(OutOfRange());
  DocxRunFormat f;
  f.halfPoints = static_cast<int>(std::lround(points * 2.0f));
  return ApplyFont(f);
}

WordStatus DocxWord::SetSelectionFontBold(int bold) {
  DocxRunFormat f;
  f.bold = bold != 0;
  return ApplyFont(f);
}

WordStatus DocxWord::SetSelectionFontItalic(int italic) {
  DocxRunFormat f;
  f.italic = italic != 0;
  return ApplyFont(f);
}

WordStatus DocxWord::SetSelectionFontColorIndex(int colorIndex) {
  if (colorIndex < 0 || colorIndex >= static_cast<int>(std::size(kColorIndex)))
    return WordStatus::Error(OutOfRange());
  DocxRunFormat f;
  f.color = QString::fromLatin1(kColorIndex[colorIndex]);
  return ApplyFont(f);
}

WordStatus DocxWord::SelectionCollapse(int direction) {
  OpenDocument* doc = nullptr;
  if (auto s = SelectionDocument(&doc); !s) return s;
  if (direction != kWordCollapseEnd && direction != kWordCollapseStart)
    return WordStatus::Error(OutOfRange());
  selection_.range.kind = direction == kWordCollapseEnd ? DocxRange::kEnd : DocxRange::kStart;
  return {};
}

WordStatus DocxWord::SaveDocument(OpenDocument& doc) {
  QString error;
  const QByteArray bytes = doc.docx->Save(&error);
  if (bytes.isEmpty())
    return WordStatus::Error(
        QStringLiteral("Не удается сохранить документ %1: %2.").arg(doc.name, error));
  // Never over the template the document was made from.
  const FileWriteResult written = WriteFileAtomically(doc.path, bytes, {doc.templatePath});
  if (!written)
    return WordStatus::Error(
        QStringLiteral("Не удается сохранить документ %1.").arg(written.message()));
  doc.dirty = false;
  return {};
}

WordStatus DocxWord::SaveAll() {
  WordStatus result;
  for (auto& d : documents_) {
    if (!d.dirty) continue;
    WordStatus s = SaveDocument(d);
    if (!s && result) result = s;  // report the first failure, still try the others
  }
  return result;
}

}  // namespace kd735
