#pragma once

#include <QString>
#include <memory>

#include "files/file_record.h"

// Local instrument files: the stored 2133 bytes of a record, no header. Loading accepts 2133 to
// 4265 bytes and reads the first 2133; saving writes exactly 2133 bytes, atomically. Failures come
// back as the user-facing message text (lines broken by "\r"), never as exceptions.
namespace kd735 {

// Which of the two file lists a local file belongs to.
enum class ListKind { Measure, Bscan };

// Texts of the load and save dialogs of one list.
struct ListDialogTexts {
  QString loadTitle;  // "Загрузить файл измерения КД735 в список"
  QString saveTitle;  // "Сохранить файл измерения КД735"
  QString defaultExtension;  // "KDMesuare" (no dot)
  QString loadDefaultName;   // "NoName.KDMesuare"
  QString filter;            // "*.KDMesuare|*.KDMesuare|*.*|*.*" (shown name|mask pairs)
};
ListDialogTexts DialogTexts(ListKind kind);

// ".KDMesuare" or ".KDBscan".
QString LocalFileExtension(ListKind kind);

// True for a length the loader accepts (length / 2133, remainder dropped, is 1).
bool IsAcceptedLocalFileSize(qint64 size);

// Result of loading: on success `content` holds the record (bytes 2133..4095 zero) and
// `entryText` the file name without its folder; on failure `content` is null, `error` holds
// the message to show in an error box and `reason` what actually went wrong, naming the file
// ("<path>: is a directory"), for the command-line tool.
struct LoadedFile {
  std::unique_ptr<TKD735FileContent> content;
  QString entryText;
  QString error;
  QString reason;
  bool ok() const { return content != nullptr; }
};
// Never opens anything that could block: a pipe or device is refused before it is opened.
LoadedFile LoadLocalFile(const QString& path);

// Writes record bytes 0..2132 to path with WriteFileAtomically: a failed save leaves whatever
// was there untouched, and a device, pipe or folder, or one of `inputs`, is never written.
// Returns an empty string on success, else "<path>: <the system's reason>".
QString SaveLocalFile(RecordView record, const QString& path, const QStringList& inputs = {});

// A name proposed from instrument data made fit to be one file name in a folder: every '/' and
// backslash becomes '_', and "." or ".." gets a '_' in front, so the data can never name a folder.
QString SafeFileName(const QString& name);

// Default name proposed when saving an entry: the entry text itself when its extension (from the
// last dot, compared case-sensitively) is the list's own, otherwise the text without its first
// four characters followed by that extension ("001  TEST0001 N005" -> " TEST0001 N005.KDMesuare").
QString DefaultSaveName(const QString& entryText, ListKind kind);

// Message texts of loading and saving ("\r" breaks lines). fullName is the path as chosen.
QString MissingFileMessage(const QString& fullName);  // "Файл с именем \r<name>\rНе существует"
QString BadSizeMessage(const QString& fullName);  // "Неправильный размер файла ..."
QString OverwriteQuestion(const QString& fullName);  // "... уже существует. Перезаписать его?"
QString NoSelectedEntryMessage();  // "Нет отмеченных файлов в списке"
QString EntryDataErrorMessage(const QString& entryText);  // "Ошибка данных в элементе списка ..."

}  // namespace kd735
