#include "files/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "files/atomic_file.h"

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

namespace {

// Closes a file descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

LoadedFile LoadLocalFile(const QString& path) {
  LoadedFile result;
  auto fail = [&](const QString& error, const QString& reason) {
    result.error = error;
    result.reason = QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
    return std::move(result);
  };
  // The size message names the file already and says what is wrong.
  auto badSize = [&] {
    result.error = result.reason = BadSizeMessage(path);
    return std::move(result);
  };
  const QString notRegular =
      QStringLiteral("not a regular file (a pipe, device or socket holds no instrument file)");
  const QByteArray native = QFile::encodeName(path);
  struct stat st {};
  if (path.isEmpty() || ::stat(native.constData(), &st) != 0) {
    const int error = path.isEmpty() ? ENOENT : errno;
    // A name that leads nowhere does not exist; a link loop, a name too long or a folder that
    // may not be searched is the system's own error.
    if (error == ENOENT) {
      result.error = result.reason = MissingFileMessage(path);
      return result;
    }
    if (error == ENOTDIR) return fail(MissingFileMessage(path), SystemReason(error));
    return fail(SystemReason(error), SystemReason(error));
  }
  // A folder is not a file: it "does not exist" as far as loading goes.
  if (S_ISDIR(st.st_mode)) return fail(MissingFileMessage(path), QStringLiteral("is a directory"));
  // A pipe or a device holds no record, and opening a pipe would wait for a writer forever.
  if (!S_ISREG(st.st_mode)) return fail(BadSizeMessage(path), notRegular);

  // O_NONBLOCK: should the name have become a pipe since, the open still returns at once.
  Descriptor file{::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
  if (file.fd < 0) return fail(SystemReason(errno), SystemReason(errno));
  if (::fstat(file.fd, &st) != 0) return fail(SystemReason(errno), SystemReason(errno));
  if (!S_ISREG(st.st_mode)) return fail(BadSizeMessage(path), notRegular);
  if (!IsAcceptedLocalFileSize(st.st_size)) return badSize();

  auto content = std::make_unique<TKD735FileContent>();
  auto* data = reinterpret_cast<char*>(content->record.data());
  qint64 got = 0;
  while (got < kStoredRecordSize) {
    const ssize_t n = ::read(file.fd, data + got, std::size_t(kStoredRecordSize - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(SystemReason(errno), SystemReason(errno));
    if (n == 0) break;
    got += n;
  }
  // The file shrank between the size check and the read.
  if (got != kStoredRecordSize) return badSize();
  result.content = std::move(content);
  result.entryText = QFileInfo(path).fileName();
  return result;
}

QString SaveLocalFile(RecordView record, const QString& path, const QStringList& inputs) {
  const FileWriteResult written = WriteFileAtomically(
      path, QByteArrayView(reinterpret_cast<const char*>(record.data()), kStoredRecordSize),
      inputs);
  return written ? QString() : written.message();
}

QString SafeFileName(const QString& name) {
  QString safe = name;
  safe.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
  if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
    safe.prepend(QLatin1Char('_'));
  return safe;
}

QString DefaultSaveName(const QString& entryText, ListKind kind) {
  const QString extension = LocalFileExtension(kind);
  const qsizetype dot = entryText.lastIndexOf(u'.');
  if (dot >= 0 && entryText.mid(dot) == extension) return entryText;
  return entryText.mid(4) + extension;
}

}  // namespace kd735
