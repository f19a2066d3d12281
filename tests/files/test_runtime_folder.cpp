#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "files/runtime_folder.h"

namespace kd735 {
namespace {

mode_t Mode(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
  return st.st_mode & 07777;
}

class RuntimeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parent_.isValid());
    saved_ = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    folder_ = parent_.filePath(QStringLiteral("runtime-%1").arg(::geteuid()));
  }
  void TearDown() override {
    if (saved_.isEmpty())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", saved_);
  }
  QTemporaryDir parent_;
  QByteArray saved_;
  QString folder_;
};

TEST_F(RuntimeFolder, MadePrivateOrNarrowedWhenOurOwn) {
  EXPECT_EQ(EnsurePrivateRuntimeFolder(parent_.path()), folder_);
  EXPECT_EQ(Mode(folder_), 0700u);
  EXPECT_EQ(qgetenv("XDG_RUNTIME_DIR"), QFile::encodeName(folder_));

  qunsetenv("XDG_RUNTIME_DIR");
  ASSERT_EQ(::chmod(QFile::encodeName(folder_).constData(), 0755), 0);
  EXPECT_EQ(EnsurePrivateRuntimeFolder(parent_.path()), folder_);
  EXPECT_EQ(Mode(folder_), 0700u);

  // A folder the session already gives is used as it is.
  qputenv("XDG_RUNTIME_DIR", "/run/user/elsewhere");
  EXPECT_EQ(EnsurePrivateRuntimeFolder(parent_.path()), QStringLiteral("/run/user/elsewhere"));
}

// Another local user may plant a link under the folder's name in the shared temporary folder:
// it is not followed, and the folder it points to keeps its permissions.
TEST_F(RuntimeFolder, PlantedLinkIsNotFollowed) {
  const QString target = parent_.filePath(QStringLiteral("victim"));
  ASSERT_TRUE(QDir().mkdir(target));
  ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0755), 0);
  ASSERT_TRUE(QFile::link(target, folder_));
  EXPECT_EQ(EnsurePrivateRuntimeFolder(parent_.path()), QString());
  EXPECT_EQ(Mode(target), 0755u);
  EXPECT_TRUE(qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"));
  EXPECT_TRUE(QFileInfo(folder_).isSymLink());
}

TEST_F(RuntimeFolder, SomeoneElsesFolderIsLeftAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can make a folder of another user";
  // The folder name carries root's uid, but the folder belongs to nobody.
  ASSERT_TRUE(QDir().mkdir(folder_));
  ASSERT_EQ(::chmod(QFile::encodeName(folder_).constData(), 0777), 0);
  ASSERT_EQ(::chown(QFile::encodeName(folder_).constData(), 65534, 65534), 0);
  EXPECT_EQ(EnsurePrivateRuntimeFolder(parent_.path()), QString());
  EXPECT_EQ(Mode(folder_), 0777u);
  EXPECT_TRUE(qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"));
}

// Without a runtime folder, state goes to a private folder under the home; a link planted there
// (or a folder of another user) is not used.
TEST_F(RuntimeFolder, PrivateStateFolderUnderTheHome) {
  const QByteArray savedHome = qgetenv("HOME"), savedCache = qgetenv("XDG_CACHE_HOME");
  const QString home = parent_.filePath(QStringLiteral("home"));
  ASSERT_TRUE(QDir().mkdir(home));
  qputenv("HOME", QFile::encodeName(home));
  qunsetenv("XDG_CACHE_HOME");
  const QString folder = home + QStringLiteral("/.cache/kd735");
  EXPECT_EQ(PrivateStateFolder(), folder);
  EXPECT_EQ(Mode(folder), 0700u);

  ASSERT_TRUE(QDir(folder).removeRecursively());
  const QString elsewhere = parent_.filePath(QStringLiteral("elsewhere"));
  ASSERT_TRUE(QDir().mkdir(elsewhere));
  ASSERT_TRUE(QFile::link(elsewhere, folder));
  EXPECT_EQ(PrivateStateFolder(), QString());

  // A runtime folder of this user's own comes first.
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(elsewhere));
  ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0700), 0);
  EXPECT_EQ(PrivateStateFolder(), elsewhere);
  qputenv("HOME", savedHome);
  if (savedCache.isEmpty())
    qunsetenv("XDG_CACHE_HOME");
  else
    qputenv("XDG_CACHE_HOME", savedCache);
}

}  // namespace
}  // namespace kd735
