#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <tuple>

#include <cerrno>
#include <cstring>

#include "files/atomic_file.h"
#include "tests/common/file_helpers.h"
#include "tests/common/other_user.h"

namespace kd735 {
namespace {

using testing::Put;
using testing::Read;

// Nothing but the named files is left in the folder: no temporary file survives.
QStringList Entries(const QTemporaryDir& dir) {
  return QDir(dir.path())
      .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
}

TEST(AtomicFile, WritesNewFileAndReplacesKeepingPermissions) {
  QTemporaryDir dir;
  const QString path = dir.filePath("out.bin");
  ASSERT_TRUE(WriteFileAtomically(path, "first"));
  EXPECT_EQ(Read(path), "first");

  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomically(path, "second"));
  EXPECT_EQ(Read(path), "second");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(Entries(dir), QStringList{"out.bin"});
}

TEST(AtomicFile, SymbolicLinkKeepsPointingAtTheReplacedFile) {
  QTemporaryDir dir;
  const QString real = dir.filePath("real.txt");
  const QString link = dir.filePath("link.txt");
  Put(real, "old");
  ASSERT_TRUE(QFile::link(real, link));
  ASSERT_TRUE(WriteFileAtomically(link, "new"));
  EXPECT_EQ(Read(real), "new");
  EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// A link is followed only as the kernel's protected-symlinks rule would follow it: never a link
// of another user in a sticky folder everyone may write to, where it may have been planted to
// make our write replace or create a file of ours elsewhere.
TEST(AtomicFile, LinksOfOtherUsersInSharedFoldersAreNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a link that belongs to another user";
  constexpr uid_t kOther = 65534;  // nobody
  QTemporaryDir dir;
  const QString victim = dir.filePath("home/.profile");
  ASSERT_TRUE(QDir(dir.path()).mkdir("home"));
  for (const auto& [name, mode, owner] :
       {std::tuple{"shared", 01777, uid_t(0)}, std::tuple{"open", 0777, uid_t(0)},
        std::tuple{"others", 01777, kOther}}) {
    const QByteArray folder = QFile::encodeName(dir.filePath(name));
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    ASSERT_EQ(::chmod(folder.constData(), mode_t(mode)), 0);
    ASSERT_EQ(::chown(folder.constData(), owner, owner), 0);
  }
  // Makes a link owned by `owner`.
  const auto link = [&](const QString& target, const QString& name, uid_t owner) {
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), path.constData()), 0);
    ASSERT_EQ(::lchown(path.constData(), owner, owner), 0);
  };
  link(victim, "shared/planted.docx", kOther);
  link(dir.filePath("home/new"), "shared/dangling.docx", kOther);
  link(victim, "shared/mine.docx", 0);
  link(dir.filePath("shared/planted.docx"), "shared/chain.docx", 0);
  link(dir.filePath("home"), "shared/folder", kOther);
  link(victim, "open/planted.docx", kOther);
  link(victim, "others/own-folder.docx", kOther);

  struct Case {
    const char* output;
    const char* refusedLink;  // empty: followed to the victim
  } cases[] = {
      {"shared/planted.docx", "shared/planted.docx"},
      {"shared/dangling.docx", "shared/dangling.docx"},
      {"shared/chain.docx", "shared/planted.docx"},
      {"shared/folder/.profile", "shared/folder"},
      {"shared/mine.docx", ""},        // our own link
      {"open/planted.docx", ""},       // a folder that is not sticky
      {"others/own-folder.docx", ""},  // the folder's owner made it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    Put(victim, "mine");
    const FileWriteResult r = WriteFileAtomically(dir.filePath(c.output), "report");
    if (*c.refusedLink) {
      EXPECT_EQ(r.failedAt, FileWriteResult::Stage::kRefused);
      EXPECT_TRUE(r.message().contains(dir.filePath(c.refusedLink) + " is a symbolic link"))
          << r.message().toStdString();
      EXPECT_EQ(Read(victim), "mine");
      EXPECT_TRUE(QFileInfo(dir.filePath(c.refusedLink)).isSymLink());  // left as it was
    } else {
      EXPECT_TRUE(r) << r.message().toStdString();
      EXPECT_EQ(Read(victim), "report");
    }
  }
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("home/new")));
  EXPECT_EQ(QDir(dir.filePath("home")).entryList(QDir::Files | QDir::Hidden),
            QStringList{".profile"});
}

// The same with a second user at work: nobody plants the link in a sticky folder everyone may
// write to; root's write is refused and root's own file stays as it was.
TEST(AtomicFile, LinkPlantedByAnotherUserIsRefused) {
  if (const QString why = testing::OtherUserUnavailable(); !why.isEmpty())
    GTEST_SKIP() << why.toStdString();
  QTemporaryDir dir;
  ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
  const QString shared = dir.filePath("shared");
  ASSERT_TRUE(QDir().mkdir(shared));
  ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
  const QString victim = dir.filePath(".profile");
  Put(victim, "mine");
  const QString output = shared + "/report.docx";
  QByteArray error;
  ASSERT_TRUE(testing::RunAsNobody({"ln", "-s", victim, output}, &error)) << error.data();
  struct stat planted {};
  ASSERT_EQ(::lstat(QFile::encodeName(output).constData(), &planted), 0);
  ASSERT_EQ(planted.st_uid, 65534u);

  const FileWriteResult r = WriteFileAtomically(output, "report");
  EXPECT_EQ(r.failedAt, FileWriteResult::Stage::kRefused);
  EXPECT_TRUE(r.message().contains(output)) << r.message().toStdString();
  EXPECT_EQ(Read(victim), "mine");
  EXPECT_EQ(CheckWriteTarget(output).failedAt, FileWriteResult::Stage::kRefused);
}

TEST(AtomicFile, RefusesWhatIsNotARegularFileWithoutOpeningIt) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString sock = dir.filePath("sock");
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, QFile::encodeName(sock).constData(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  // A FIFO would block an open() until a reader comes: the call must return at once.
  for (const QString& target : {fifo, sock, dir.path(), QStringLiteral("/dev/null")}) {
    SCOPED_TRACE(target.toStdString());
    const FileWriteResult r = WriteFileAtomically(target, "x");
    EXPECT_EQ(r.failedAt, FileWriteResult::Stage::kRefused);
    EXPECT_TRUE(r.message().startsWith(target)) << r.message().toStdString();
  }
  EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
  ::close(s);
}

TEST(AtomicFile, RefusesToOverwriteAnInputEvenThroughLinks) {
  QTemporaryDir dir;
  const QString input = dir.filePath("in.docx");
  Put(input, "template");
  const QString hard = dir.filePath("hard.docx");
  ASSERT_EQ(::link(QFile::encodeName(input).constData(), QFile::encodeName(hard).constData()), 0);
  const QString soft = dir.filePath("soft.docx");
  ASSERT_TRUE(QFile::link(input, soft));
  const QString dotted = dir.path() + "/./in.docx";
  for (const QString& target : {input, hard, soft, dotted}) {
    SCOPED_TRACE(target.toStdString());
    EXPECT_EQ(WriteFileAtomically(target, "x", {input}).failedAt, FileWriteResult::Stage::kRefused);
  }
  EXPECT_EQ(Read(input), "template");
  // Another file beside it is fine.
  EXPECT_TRUE(WriteFileAtomically(dir.filePath("out.docx"), "x", {input}));
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileAndNoTemporary) {
  QTemporaryDir dir;
  const QString path = dir.filePath("report.docx");
  Put(path, "good report");

  // A file-size limit stands in for a full disk: the write fails part-way (EFBIG).
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const FileWriteResult r = WriteFileAtomically(path, QByteArray(5000, 'z'));
  ::setrlimit(RLIMIT_FSIZE, &old);

  EXPECT_EQ(r.failedAt, FileWriteResult::Stage::kWrite);
  EXPECT_FALSE(r.reason.isEmpty());
  EXPECT_TRUE(r.message().contains("report.docx"));
  EXPECT_EQ(Read(path), "good report");
  EXPECT_EQ(Entries(dir), QStringList{"report.docx"});
}

TEST(AtomicFile, MissingFolderOrUnwritableFolderNamesTheReason) {
  QTemporaryDir dir;
  const FileWriteResult r = WriteFileAtomically(dir.filePath("no/such/folder/x.bin"), "x");
  EXPECT_EQ(r.failedAt, FileWriteResult::Stage::kCreate);
  EXPECT_FALSE(r.reason.isEmpty());
  if (::geteuid() != 0) {  // root writes anywhere
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
    EXPECT_EQ(WriteFileAtomically(dir.filePath("x.bin"), "x").failedAt,
              FileWriteResult::Stage::kCreate);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
  }
}

// A name may take 255 bytes; the temporary file beside it must fit too, also when the name is
// Cyrillic (two bytes a letter).
TEST(AtomicFile, LongCyrillicNameIsWritten) {
  QTemporaryDir dir;
  const QString name = QString(118, u'Ж') + QStringLiteral(".KDMesuare");  // 246 bytes
  ASSERT_LE(QFile::encodeName(name).size(), 255);
  const QString path = dir.filePath(name);
  const FileWriteResult r = WriteFileAtomically(path, "data");
  ASSERT_TRUE(r) << r.message().toStdString();
  EXPECT_EQ(Read(path), "data");
  EXPECT_EQ(Entries(dir), QStringList{name});
}

// A replaced file keeps its permissions but no set-id bit: rewritten by root, a set-user-id
// file would become a set-user-id program of root.
TEST(AtomicFile, SetIdBitsAreNotCarriedOver) {
  QTemporaryDir dir;
  const QString path = dir.filePath("tool");
  Put(path, "old");
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 06755), 0);
  ASSERT_TRUE(WriteFileAtomically(path, "new"));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

// The checks alone, for refusing an output before the work: nothing is created.
TEST(AtomicFile, CheckWriteTargetCreatesNothing) {
  QTemporaryDir dir;
  const QString input = dir.filePath("in");
  Put(input, "x");
  const QString fifo = dir.filePath("fifo");
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  EXPECT_TRUE(CheckWriteTarget(dir.filePath("new.bin"), {input}));
  EXPECT_EQ(CheckWriteTarget(input, {input}).failedAt, FileWriteResult::Stage::kRefused);
  EXPECT_EQ(CheckWriteTarget(fifo).failedAt, FileWriteResult::Stage::kRefused);
  const FileWriteResult missing = CheckWriteTarget(dir.filePath("no/such/x.bin"));
  EXPECT_EQ(missing.failedAt, FileWriteResult::Stage::kCreate);
  EXPECT_EQ(missing.reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
  EXPECT_EQ(CheckWriteTarget(input + "/x.bin").failedAt, FileWriteResult::Stage::kCreate);
  EXPECT_EQ(Entries(dir), (QStringList{"fifo", "in"}));
}

TEST(AtomicFile, PiecewiseWriterShowsNothingUntilCommit) {
  QTemporaryDir dir;
  const QString path = dir.filePath("big.bin");
  Put(path, "old");
  {
    AtomicFileWriter w;
    ASSERT_TRUE(w.Open(path));
    ASSERT_TRUE(w.Write("part one, "));
    EXPECT_EQ(Read(path), "old");
    // Dropped without a commit: everything written is discarded.
  }
  EXPECT_EQ(Read(path), "old");
  AtomicFileWriter w;
  ASSERT_TRUE(w.Open(path));
  ASSERT_TRUE(w.Write("part one, "));
  ASSERT_TRUE(w.Write("part two"));
  ASSERT_TRUE(w.Commit());
  EXPECT_EQ(Read(path), "part one, part two");
  EXPECT_EQ(Entries(dir), QStringList{"big.bin"});
}

}  // namespace
}  // namespace kd735
