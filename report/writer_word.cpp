#include "report/writer_word.h"

#include <QFileInfo>

#include <cmath>

namespace kd735 {

namespace {

namespace wp = writer_protocol;

WordStatus ToWord(const PortStatus& s) { return s ? WordStatus() : WordStatus::Error(s.text()); }

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace

WriterWord::WriterWord(PictureClipboard& clipboard, WriterWordOptions options)
    : clipboard_(clipboard), engine_(std::move(options)) {}

WriterWord::~WriterWord() = default;

WordStatus WriterWord::Op(wp::Op op, std::vector<wp::Legacy::Value> args,
                          wp::Legacy::Result* result, int timeoutMs) {
  wp::Legacy request;
  request.op = op;
  request.args = std::move(args);
  return ToWord(engine_.CallLegacy(
      request, timeoutMs > 0 ? timeoutMs : engine_.options().callTimeoutMs, result));
}

WordStatus WriterWord::Connect() { return ToWord(engine_.Begin()); }
WordStatus WriterWord::Disconnect() {
  engine_.End();  // a failure here changes nothing that was done
  return {};
}

WordStatus WriterWord::SetVisible(bool visible) { return Op(wp::Op::kLegacySetVisible, {visible}); }

WordStatus WriterWord::SetOption(bool) {
  // Writer has no counterpart of the option; the call only needs the connection.
  int count = 0;
  return DocumentsCount(&count);
}

WordStatus WriterWord::DocumentsCount(int* count) { return ToWord(engine_.CountDocuments(count)); }

WordStatus WriterWord::DocumentsAdd(const QString& templatePath, bool newTemplate) {
  return Op(wp::Op::kLegacyDocumentsAdd,
            {Utf8(QFileInfo(templatePath).absoluteFilePath()), !newTemplate}, nullptr,
            engine_.options().loadTimeoutMs);
}

WordStatus WriterWord::ActiveDocument(WordDocumentRef* document) {
  wp::Legacy::Result r;
  if (auto s = Op(wp::Op::kLegacyActiveDocument, {}, &r); !s) return s;
  document->id = r.number;
  return {};
}

WordStatus WriterWord::Activate() { return Op(wp::Op::kLegacyActivate); }

WordStatus WriterWord::Quit() {
  WordStatus s = Op(wp::Op::kLegacyQuit, {}, nullptr, engine_.options().quitTimeoutMs);
  if (s) engine_.AwaitOfficeEnd();
  return s;
}

WordStatus WriterWord::Name(WordDocumentRef document, QString* name) {
  wp::Legacy::Result r;
  if (auto s = Op(wp::Op::kLegacyName, {document.id}, &r); !s) return s;
  *name = QString::fromStdString(r.text);
  return {};
}

WordStatus WriterWord::SetVariable(WordDocumentRef document, const QString& name,
                                   const QString& value) {
  return Op(wp::Op::kLegacySetVariable, {document.id, Utf8(name), Utf8(value)});
}

WordStatus WriterWord::FieldsUpdate(WordDocumentRef document) {
  return Op(wp::Op::kLegacyFieldsUpdate, {document.id});
}

WordStatus WriterWord::TablesItem(WordDocumentRef document, int position, WordTableRef* table) {
  if (auto s = Op(wp::Op::kLegacyTablesItem, {document.id, position}); !s) return s;
  table->document = document.id;
  table->position = position;
  return {};
}

WordStatus WriterWord::RowsAdd(WordTableRef table) {
  return Op(wp::Op::kLegacyRowsAdd, {table.document, table.position});
}

WordStatus WriterWord::RowsCount(WordTableRef table, int* count) {
  wp::Legacy::Result r;
  if (auto s = Op(wp::Op::kLegacyRowsCount, {table.document, table.position}, &r); !s) return s;
  *count = r.number;
  return {};
}

WordStatus WriterWord::CellSelect(WordTableRef table, int row, int column) {
  return Op(wp::Op::kLegacyCellSelect, {table.document, table.position, row, column});
}

WordStatus WriterWord::SetSelectionAlignment(int alignment) {
  return Op(wp::Op::kLegacySetAlignment, {alignment});
}

WordStatus WriterWord::SetSelectionText(const QString& text) {
  return Op(wp::Op::kLegacySetText, {Utf8(text)});
}

WordStatus WriterWord::SelectionPaste() {
  if (!clipboard_.hasPicture())
    return WordStatus::Error(
        QStringLiteral("Невозможно вставить: буфер обмена не содержит рисунка."));
  const QImage& picture = clipboard_.picture();
  const QByteArray png = pictures_.Png(picture);
  if (png.isEmpty())
    return WordStatus::Error(QStringLiteral("Не удается записать рисунок в формате PNG."));
  return Op(wp::Op::kLegacyPastePicture,
            {std::string(png.constData(), static_cast<std::size_t>(png.size())), picture.width(),
             picture.height()});
}

WordStatus WriterWord::SetSelectionFontName(const QString& name) {
  return Op(wp::Op::kLegacySetFontName, {Utf8(name)});
}

WordStatus WriterWord::SetSelectionFontSize(float points) {
  if (!std::isfinite(points) || points < 1.0f || points > 1638.0f)
    return WordStatus::Error(QStringLiteral("Значение вне допустимого диапазона."));
  return Op(wp::Op::kLegacySetFontSize, {static_cast<std::int32_t>(std::lround(points * 100.0f))});
}

WordStatus WriterWord::SetSelectionFontBold(int bold) {
  return Op(wp::Op::kLegacySetFontBold, {bold});
}

WordStatus WriterWord::SetSelectionFontItalic(int italic) {
  return Op(wp::Op::kLegacySetFontItalic, {italic});
}

WordStatus WriterWord::SetSelectionFontColorIndex(int colorIndex) {
  return Op(wp::Op::kLegacySetFontColorIndex, {colorIndex});
}

WordStatus WriterWord::SelectionCollapse(int direction) {
  return Op(wp::Op::kLegacyCollapse, {direction});
}

WordStatus WriterWord::CloseDocuments() {
  if (auto s = Connect(); !s) return s;
  const WordStatus result = Op(wp::Op::kLegacyCloseOurs);
  Disconnect();
  return result;
}

WordStatus WriterWord::SaveActiveDocument(const QString& path) {
  if (auto s = Connect(); !s) return s;
  const WordStatus result = ToWord(engine_.StoreCopy(path));
  Disconnect();
  return result;
}

}  // namespace kd735
