#include "files/runtime_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>

namespace kd735 {

namespace {

// Makes the folder (its parent must exist) or takes the one there, when it is a real folder of
// this user; narrows it to 0700. False when it is anything else.
bool MakePrivateFolder(const QString& folder) {
  const QByteArray native = QFile::encodeName(folder);
  if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) return false;
  // O_NOFOLLOW: a symbolic link planted under this name fails to open instead of being followed.
  const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
  // Through the descriptor, so the permissions change on exactly the folder just checked.
  const bool private_ = ours && ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
  ::close(fd);
  return private_;
}

}  // namespace

QString EnsurePrivateRuntimeFolder(const QString& parent) {
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    return qEnvironmentVariable("XDG_RUNTIME_DIR");
  const QString folder = (parent.isEmpty() ? QDir::tempPath() : parent) +
                         QStringLiteral("/runtime-%1").arg(::geteuid());
  if (!MakePrivateFolder(folder)) return {};
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
  return folder;
}

QString PrivateStateFolder() {
  // Without the variable Qt would fall back to a name in the shared temporary folder.
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) return runtime;
  }
  const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  if (cache.isEmpty() || !QDir().mkpath(cache)) return {};
  const QString folder = cache + QStringLiteral("/kd735");
  return MakePrivateFolder(folder) ? folder : QString();
}

}  // namespace kd735
