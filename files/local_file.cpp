#include "files/local_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kd735 {

ListDialogTexts DialogTexts(ListKind kind) {
  if (kind == ListKind::Measure) {
    return {QStringLiteral("Загрузить файл измерения КД735 в список"),
            QStringLiteral("Сохранить файл измерения КД735"), QStringLiteral("KDMesuare"),
            QStringLiteral("NoName.KDMesuare"), QStringLiteral("*.KDMesuare|*.KDMesuare|*.*|*.*")};
  }
  return {QStringLiteral("Загрузить файл В-скана КД735 в список"),
          QStringLiteral("Сохранить файл В-скана КД735"), QStringLiteral("KDBscan"),
          QStringLiteral("NoName.KDBscan"), QStringLiteral("*.KDBscan|*.KDBscan|*.*|*.*")};
}

QString LocalFileExtension(ListKind kind) {
  return kind == ListKind::Measure ? QStringLiteral(".KDMesuare") : QStringLiteral(".KDBscan");
}

bool IsAcceptedLocalFileSize(qint64 size) { return size >= 0 && size / kStoredRecordSize == 1; }

QString MissingFileMessage(const QString& fullName) {
  return QStringLiteral("Файл с именем \r") + fullName + QStringLiteral("\rНе существует");
}

QString BadSizeMessage(const QString& fullName) {
  return QStringLiteral("Неправильный размер файла (4096 байт)\r") + fullName +
         QStringLiteral("\rЧтение невозможно ");
}

QString OverwriteQuestion(const QString& fullName) {
  return QStringLiteral("Файл с именем \r") + fullName +
         QStringLiteral("\rуже существует. Перезаписать его?");
}

QString NoSelectedEntryMessage() { return QStringLiteral("Нет отмеченных файлов в списке"); }

QString EntryDataErrorMessage(const QString& entryText) {
  return QStringLiteral("Ошибка данных в элементе списка ") + entryText;
}

LoadedFile LoadLocalFile(const QString& path) {
  LoadedFile result;
  const QFileInfo info(path);
  // A folder is not a file: it "does not exist" as far as loading goes.
  if (!info.exists() || info.isDir()) {
    result.error = MissingFileMessage(path);
    return result;
  }
  // A pipe or a device holds no record, and opening a pipe would wait for a writer forever.
  if (!info.isFile()) {
    result.error = BadSizeMessage(path);
    return result;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    result.error = file.errorString();
    return result;
  }
  if (!IsAcceptedLocalFileSize(file.size())) {
    result.error = BadSizeMessage(path);
    return result;
  }
  auto content = std::make_unique<TKD735FileContent>();
  const qint64 got = file.read(reinterpret_cast<char*>(content->record.data()), kStoredRecordSize);
  if (got != kStoredRecordSize) {
    // The file shrank between the size check and the read, or the read failed.
    result.error = file.error() != QFileDevice::NoError ? file.errorString() : BadSizeMessage(path);
    return result;
  }
  result.content = std::move(content);
  result.entryText = info.fileName();
  return result;
}

QString SaveLocalFile(RecordView record, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  if (file.write(reinterpret_cast<const char*>(record.data()), kStoredRecordSize) !=
      kStoredRecordSize) {
    const QString error = file.errorString();
    file.cancelWriting();
    return error;
  }
  if (!file.commit()) return file.errorString();
  return {};
}

QString DefaultSaveName(const QString& entryText, ListKind kind) {
  const QString extension = LocalFileExtension(kind);
  const qsizetype dot = entryText.lastIndexOf(u'.');
  if (dot >= 0 && entryText.mid(dot) == extension) return entryText;
  return entryText.mid(4) + extension;
}

}  // namespace kd735
