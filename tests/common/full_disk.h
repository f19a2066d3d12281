#pragma once

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>

// A folder whose file system is full, for tests of what a failed write leaves behind: a small
// tmpfs where the test may mount one (root, and a system that allows it), otherwise an ordinary
// folder in which the tool's process may not grow a file past 1000 bytes (the write then fails
// with EFBIG instead of ENOSPC). Put the files that must survive first, then call Fill().
namespace kd735::testing {

class FullFolder {
 public:
  FullFolder() {
    const QByteArray path = QFile::encodeName(dir_.path());
    mounted_ = ::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                       "size=64k,mode=0700") == 0;
  }
  ~FullFolder() {
    if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
  }
  FullFolder(const FullFolder&) = delete;
  FullFolder& operator=(const FullFolder&) = delete;

  bool valid() const { return dir_.isValid(); }
  QString path() const { return dir_.path(); }
  QString filePath(const QString& name) const { return dir_.filePath(name); }
  bool mounted() const { return mounted_; }

  // Takes the rest of the tmpfs; the fallback needs nothing here.
  void Fill() const {
    if (!mounted_) return;
    QFile filler(dir_.filePath(QStringLiteral(".filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return;
    const QByteArray block(512, 'f');
    while (filler.write(block) == block.size()) {
    }
  }

  // The reason the tool should give, as the system words it in the tool's locale.
  QString Reason() const { return ToolReason(mounted_ ? ENOSPC : EFBIG); }

  // Sets up the tool's process: the file-size limit for the fallback.
  void Prepare(QProcess& process) const {
    if (mounted_) return;
    process.setChildProcessModifier([] {
      ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of killing the tool
      rlimit limit{1000, 1000};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    });
  }

  // Names in the folder other than the filler: no temporary file may stay behind.
  QStringList Entries() const {
    QStringList names =
        QDir(dir_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    names.removeAll(QStringLiteral(".filler"));
    return names;
  }

  // strerror in the Russian locale the tool runs under (English where that is not installed).
  static QString ToolReason(int error) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "ru_RU.UTF-8");
    const QString text = QString::fromUtf8(std::strerror(error));
    std::setlocale(LC_ALL, saved.c_str());
    return text;
  }

 private:
  QTemporaryDir dir_;
  bool mounted_ = false;
};

}  // namespace kd735::testing
