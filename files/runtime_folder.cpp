#include "files/runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cerrno>

namespace kd735 {

QString EnsurePrivateRuntimeFolder(const QString& parent) {
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    return qEnvironmentVariable("XDG_RUNTIME_DIR");
  const QString folder = (parent.isEmpty() ? QDir::tempPath() : parent) +
                         QStringLiteral("/runtime-%1").arg(::geteuid());
  const QByteArray native = QFile::encodeName(folder);
  if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return {};
  // O_NOFOLLOW: a symbolic link planted under this name fails to open instead of being followed.
  const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  // Through the descriptor, so the permissions change on exactly the folder just checked.
  const bool private_ = ours && ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
  ::close(fd);
  if (!private_) return {};
  qputenv("XDG_RUNTIME_DIR", native);
  return folder;
}

}  // namespace kd735
