#include "files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace kd735 {

namespace {

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

// The kernel's protected-symlinks rule: a link is followed when the one following it owns it,
// when its folder is not both sticky and writable by everyone, or when the folder's owner also
// owns the link. Anything else may have been planted by another user to redirect our writes.
bool MayFollow(const struct stat& link, const struct stat& folder) {
  if (link.st_uid == ::geteuid()) return true;
  constexpr mode_t kShared = S_ISVTX | S_IWOTH;
  if ((folder.st_mode & kShared) != kShared) return true;
  return folder.st_uid == link.st_uid;
}

// Where the data must go.
struct Resolution {
  QString target;   // the path with every symbolic link in it followed
  int error = 0;    // errno of a failed look-up
  QString refused;  // the link that may not be followed
};

// Follows the path component by component, each symbolic link under the rule above, so that the
// rename lands where the kernel itself would let us write and nowhere else. A missing component
// ends the walk: the rest is taken as written (a new file, or a folder that is not there).
Resolution ResolveTarget(const QString& path) {
  constexpr int kMaxLinks = 40;  // as the kernel's ELOOP limit
  Resolution r;
  QStringList rest = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  QString resolved;  // without a trailing '/'; empty is the root
  if (!path.startsWith(QLatin1Char('/'))) {
    resolved = QDir::currentPath();
    if (resolved == QLatin1String("/")) resolved.clear();
  }
  int links = 0;
  while (!rest.isEmpty()) {
    const QString name = rest.takeFirst();
    if (name == QLatin1String(".")) continue;
    if (name == QLatin1String("..")) {
      resolved.truncate(std::max<qsizetype>(0, resolved.lastIndexOf(QLatin1Char('/'))));
      continue;
    }
    const QString next = resolved + QLatin1Char('/') + name;
    struct stat st {};
    if (::lstat(Native(next).constData(), &st) != 0) {
      if (errno != ENOENT) {
        r.error = errno;
        return r;
      }
      r.target =
          next + (rest.isEmpty() ? QString() : QLatin1Char('/') + rest.join(QLatin1Char('/')));
      return r;
    }
    if (!S_ISLNK(st.st_mode)) {
      resolved = next;
      continue;
    }
    if (++links > kMaxLinks) {
      r.error = ELOOP;
      return r;
    }
    struct stat folder {};
    if (::stat(resolved.isEmpty() ? "/" : Native(resolved).constData(), &folder) != 0) {
      r.error = errno;
      return r;
    }
    if (!MayFollow(st, folder)) {
      r.refused = next;
      return r;
    }
    QByteArray target(PATH_MAX, Qt::Uninitialized);
    const ssize_t n = ::readlink(Native(next).constData(), target.data(), size_t(target.size()));
    if (n < 0) {
      r.error = errno;
      return r;
    }
    target.truncate(n);
    const QString text = QFile::decodeName(target);
    if (text.startsWith(QLatin1Char('/'))) resolved.clear();
    rest = text.split(QLatin1Char('/'), Qt::SkipEmptyParts) + rest;
  }
  r.target = resolved.isEmpty() ? QStringLiteral("/") : resolved;
  return r;
}

bool WriteAll(int fd, const char* data, qsizetype size, int* error) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

}  // namespace

QString FileWriteResult::message() const {
  return QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
}

AtomicFileWriter::~AtomicFileWriter() { Cancel(); }

FileWriteResult AtomicFileWriter::Fail(FileWriteResult::Stage stage, const QString& reason) {
  Cancel();
  failure_.failedAt = stage;
  failure_.reason = reason;
  failure_.path = path_;
  return failure_;
}

namespace {

// What is known about a target once it passed the checks.
struct TargetCheck {
  FileWriteResult result;
  QString target;  // where the rename goes
  bool exists = false;
  struct stat st {};
};

TargetCheck CheckTarget(const QString& path, const QStringList& inputs) {
  TargetCheck c;
  c.result.path = path;
  auto fail = [&c](FileWriteResult::Stage stage, const QString& reason) {
    c.result.failedAt = stage;
    c.result.reason = reason;
    return c;
  };
  if (path.isEmpty()) return fail(FileWriteResult::Stage::kRefused, QStringLiteral("no file name"));
  const Resolution where = ResolveTarget(path);
  if (!where.refused.isEmpty())
    return fail(FileWriteResult::Stage::kRefused,
                QStringLiteral("%1 is a symbolic link of another user in a folder everyone may "
                               "write to; it is not followed")
                    .arg(QDir::toNativeSeparators(where.refused)));
  if (where.error != 0) return fail(FileWriteResult::Stage::kCreate, SystemReason(where.error));
  c.target = where.target;

  // Only a regular file may be replaced; stat never opens, so a FIFO cannot block us here.
  c.exists = ::stat(Native(c.target).constData(), &c.st) == 0;
  if (!c.exists && errno != ENOENT)
    return fail(FileWriteResult::Stage::kCreate, SystemReason(errno));
  if (c.exists && S_ISDIR(c.st.st_mode))
    return fail(FileWriteResult::Stage::kRefused, QStringLiteral("is a directory"));
  if (c.exists && !S_ISREG(c.st.st_mode))
    return fail(FileWriteResult::Stage::kRefused,
                QStringLiteral("not a regular file (a device, pipe or socket is never replaced)"));
  if (!c.exists) {
    // The new file's folder must be there to take it (the temporary file goes there too).
    const QByteArray folder = Native(QFileInfo(c.target).absolutePath());
    struct stat dir {};
    if (::stat(folder.constData(), &dir) != 0)
      return fail(FileWriteResult::Stage::kCreate, SystemReason(errno));
    if (!S_ISDIR(dir.st_mode)) return fail(FileWriteResult::Stage::kCreate, SystemReason(ENOTDIR));
  }
  if (c.exists) {
    for (const QString& input : inputs) {
      if (!input.isEmpty() && IsSameFile(c.target, input))
        return fail(FileWriteResult::Stage::kRefused,
                    QStringLiteral("is also an input of this operation (%1); choose another name")
                        .arg(QDir::toNativeSeparators(input)));
    }
  }
  return c;
}

// The start of a temporary file's name: a dot and as much of the target's name as leaves room
// for the suffix within the 255 bytes a name may have (a Cyrillic letter takes two).
QString TemporaryStem(const QString& fileName) {
  QString base = fileName;
  while (Native(base).size() > 200)
    base.chop(base.size() >= 2 && base.back().isLowSurrogate() ? 2 : 1);
  return QStringLiteral(".") + base;
}

}  // namespace

FileWriteResult CheckWriteTarget(const QString& path, const QStringList& inputs) {
  return CheckTarget(path, inputs).result;
}

FileWriteResult AtomicFileWriter::Open(const QString& path, const QStringList& inputs) {
  Cancel();
  path_ = path;
  failure_ = FileWriteResult{};
  failure_.path = path;
  const TargetCheck check = CheckTarget(path, inputs);
  if (!check.result) return Fail(check.result.failedAt, check.result.reason);
  target_ = check.target;
  const bool exists = check.exists;
  const struct stat& st = check.st;

  // The temporary file sits beside the target, so the rename never crosses file systems.
  const QFileInfo targetInfo(target_);
  const QString folder = targetInfo.absolutePath();
  const QString stem = TemporaryStem(targetInfo.fileName());
  // A new file gets the umask; a replaced one its own bits, but never set-id bits, which would
  // make a file written by root a set-user-id program of root.
  const mode_t mode = exists ? (st.st_mode & 0777) : 0666;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString candidate = folder + QLatin1Char('/') + stem +
                              QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate(),
                                                            8, 16, QLatin1Char('0'));
    const int fd = ::open(Native(candidate).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Fail(FileWriteResult::Stage::kCreate, SystemReason(errno));
    }
    fd_ = fd;
    temporary_ = candidate;
    if (exists) {
      // Not fatal: the data matters more than the owner and the permission bits. The owner can
      // only be kept by root (or for a group of the writer's); open() applied the umask.
      if (::fchown(fd_, st.st_uid, st.st_gid) != 0 && ::fchown(fd_, uid_t(-1), st.st_gid) != 0) {
      }
      if (::fchmod(fd_, mode) != 0) {
      }
    }
    return failure_;
  }
  return Fail(FileWriteResult::Stage::kCreate,
              QStringLiteral("no free name for a temporary file in %1").arg(folder));
}

FileWriteResult AtomicFileWriter::Write(QByteArrayView data) {
  if (!failure_.ok()) return failure_;
  if (fd_ < 0) return Fail(FileWriteResult::Stage::kWrite, QStringLiteral("file is not open"));
  int error = 0;
  if (!WriteAll(fd_, data.data(), data.size(), &error))
    return Fail(FileWriteResult::Stage::kWrite, SystemReason(error));
  return failure_;
}

FileWriteResult AtomicFileWriter::Commit() {
  if (!failure_.ok()) return failure_;
  if (fd_ < 0) return Fail(FileWriteResult::Stage::kWrite, QStringLiteral("file is not open"));
  // A full disk often shows only here: the data may sit in the page cache until the sync.
  if (::fsync(fd_) != 0) return Fail(FileWriteResult::Stage::kWrite, SystemReason(errno));
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Fail(FileWriteResult::Stage::kWrite, SystemReason(errno));
  if (::rename(Native(temporary_).constData(), Native(target_).constData()) != 0)
    return Fail(FileWriteResult::Stage::kWrite, SystemReason(errno));
  temporary_.clear();
  // Make the rename itself durable; the data is already in place, so a failure here is not one.
  const int dir = ::open(Native(QFileInfo(target_).absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return failure_;
}

void AtomicFileWriter::Cancel() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.isEmpty()) {
    ::unlink(Native(temporary_).constData());
    temporary_.clear();
  }
}

FileWriteResult WriteFileAtomically(const QString& path, QByteArrayView data,
                                    const QStringList& inputs) {
  AtomicFileWriter writer;
  if (auto r = writer.Open(path, inputs); !r) return r;
  if (auto r = writer.Write(data); !r) return r;
  return writer.Commit();
}

bool IsSameFile(const QString& a, const QString& b) {
  struct stat sa {
  }, sb{};
  if (::stat(Native(a).constData(), &sa) != 0 || ::stat(Native(b).constData(), &sb) != 0)
    return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace kd735
