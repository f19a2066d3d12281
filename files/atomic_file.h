#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

// The one way this project writes a file. The data goes to a new temporary file in the target's
// folder; every write, the flush and the sync are checked, and only then is the temporary file
// renamed over the target. A failure at any point removes the temporary file and leaves whatever
// was at the target untouched.
//
// The target must be a regular file or not exist yet: a directory, device, FIFO or socket is
// refused before anything is opened (opening a FIFO would wait for a reader). A symbolic link is
// followed, and the file it points to is replaced, but only as far as the kernel's
// protected-symlinks rule allows: a link of another user in a sticky folder everyone may write
// to (/tmp) is refused, since it may have been planted to redirect the write. A target that is the
// same file as one of the operation's inputs is refused, so an output can never destroy what it is
// made from. A replaced file keeps its permission bits (never set-user-id or set-group-id ones)
// and, where the system allows it, its owner.
namespace kd735 {

struct FileWriteResult {
  enum class Stage {
    kNone,     // written
    kRefused,  // the target may not be written (not a regular file, or one of the inputs)
    kCreate,   // the temporary file could not be created
    kWrite,    // writing, syncing, closing or renaming failed
  };
  Stage failedAt = Stage::kNone;
  QString reason;  // the system's reason ("No space left on device"), or why it was refused
  QString path;    // the target as given

  bool ok() const { return failedAt == Stage::kNone; }
  explicit operator bool() const { return ok(); }
  // "<path>: <reason>", for messages that must name the file.
  QString message() const;
};

// Writes a file in pieces; nothing shows at the target until Commit succeeds. Destroying the
// writer before a successful Commit discards everything written.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Checks the target (and that it is none of `inputs`) and creates the temporary file.
  FileWriteResult Open(const QString& path, const QStringList& inputs = {});
  // Appends data; the first failure sticks and is reported again by Commit.
  FileWriteResult Write(QByteArrayView data);
  // Syncs, closes and renames the temporary file over the target, then syncs the folder.
  FileWriteResult Commit();
  // Discards the temporary file; the target stays as it was.
  void Cancel();

 private:
  FileWriteResult Fail(FileWriteResult::Stage stage, const QString& reason);

  QString path_;       // as given
  QString target_;     // where the rename goes (symbolic links resolved)
  QString temporary_;  // the temporary file, empty when none is open
  int fd_ = -1;
  FileWriteResult failure_;
};

// The whole file in one call.
FileWriteResult WriteFileAtomically(const QString& path, QByteArrayView data,
                                    const QStringList& inputs = {});

// The checks Open makes on the target, without creating anything: lets a caller refuse an
// output before it does the work that would fill it. Writing still checks again.
FileWriteResult CheckWriteTarget(const QString& path, const QStringList& inputs = {});

// True when both paths name the same existing file (also through links).
bool IsSameFile(const QString& a, const QString& b);

}  // namespace kd735
