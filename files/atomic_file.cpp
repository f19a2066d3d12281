#include "files/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>

namespace kd735 {

namespace {

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

// Where the data must go: the path itself, or the file a symbolic link there points to.
QString ResolveTarget(const QString& path) {
  const QFileInfo info(path);
  if (!info.isSymLink()) return info.absoluteFilePath();
  const QString canonical = info.canonicalFilePath();
  if (!canonical.isEmpty()) return canonical;
  return info.symLinkTarget();  // a dangling link: create the file it names
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

FileWriteResult AtomicFileWriter::Open(const QString& path, const QStringList& inputs) {
  Cancel();
  path_ = path;
  failure_ = FileWriteResult{};
  failure_.path = path;
  if (path.isEmpty()) return Fail(FileWriteResult::Stage::kRefused, QStringLiteral("no file name"));
  target_ = ResolveTarget(path);

  // Only a regular file may be replaced; stat never opens, so a FIFO cannot block us here.
  struct stat st {};
  const bool exists = ::stat(Native(target_).constData(), &st) == 0;
  if (!exists && errno != ENOENT) return Fail(FileWriteResult::Stage::kCreate, SystemReason(errno));
  if (exists && S_ISDIR(st.st_mode))
    return Fail(FileWriteResult::Stage::kRefused, QStringLiteral("is a directory"));
  if (exists && !S_ISREG(st.st_mode))
    return Fail(FileWriteResult::Stage::kRefused,
                QStringLiteral("not a regular file (a device, pipe or socket is never replaced)"));
  if (exists) {
    for (const QString& input : inputs) {
      if (!input.isEmpty() && IsSameFile(target_, input))
        return Fail(FileWriteResult::Stage::kRefused,
                    QStringLiteral("is also an input of this operation (%1); choose another name")
                        .arg(QDir::toNativeSeparators(input)));
    }
  }

  // The temporary file sits beside the target, so the rename never crosses file systems.
  const QFileInfo targetInfo(target_);
  const QString folder = targetInfo.absolutePath();
  const QString base = targetInfo.fileName().left(180);
  const mode_t mode = exists ? (st.st_mode & 07777) : 0666;  // a new file gets the umask
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString candidate = folder + QStringLiteral("/.") + base +
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
    // open() applied the umask; an existing file keeps exactly its own permissions.
    if (exists && ::fchmod(fd_, mode) != 0) {
      // Not fatal: the data matters more than the permission bits.
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
