// The single-instance guard where another user can write to the shared temporary folder.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "apps/common/program_shell.h"
#include "files/runtime_folder.h"
#include "tests/common/other_user.h"

namespace kd735 {
namespace {

// Sets environment variables for one test and puts them back afterwards.
class Environment {
 public:
  ~Environment() {
    for (auto it = saved_.cbegin(); it != saved_.cend(); ++it) {
      if (it.value().isNull())
        qunsetenv(it.key().constData());
      else
        qputenv(it.key().constData(), it.value());
    }
  }
  void Set(const char* name, const QString& value) {
    Save(name);
    if (value.isNull())
      qunsetenv(name);
    else
      qputenv(name, QFile::encodeName(value));
  }

 private:
  void Save(const char* name) {
    if (!saved_.contains(name))
      saved_.insert(name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray());
  }
  QMap<QByteArray, QByteArray> saved_;
};

// Outside a session the runtime folder's names in the shared temporary folder are free for
// anyone to take: nobody takes both the name this program would make (runtime-<uid>) and the one
// Qt falls back to (runtime-<user name>). The guard still keeps a second program out.
TEST(InstanceGuard, AnotherUserCannotSwitchItOff) {
  if (const QString why = testing::OtherUserUnavailable(); !why.isEmpty())
    GTEST_SKIP() << why.toStdString();
  QTemporaryDir base;
  ASSERT_EQ(::chmod(QFile::encodeName(base.path()).constData(), 0755), 0);
  const QString shared = base.filePath("tmp");
  const QString home = base.filePath("home");
  ASSERT_TRUE(QDir().mkdir(shared) && QDir().mkdir(home));
  ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
  const passwd* me = ::getpwuid(::geteuid());
  ASSERT_NE(me, nullptr);
  const QStringList taken = {
      shared + QStringLiteral("/runtime-%1").arg(::geteuid()),
      shared + QStringLiteral("/runtime-") + QString::fromLocal8Bit(me->pw_name)};
  QByteArray error;
  ASSERT_TRUE(testing::RunAsNobody(QStringList{"mkdir", "-m", "0777"} + taken, &error))
      << error.data();

  Environment env;
  env.Set("TMPDIR", shared);
  env.Set("HOME", home);
  env.Set("XDG_RUNTIME_DIR", QString());
  env.Set("XDG_CACHE_HOME", QString());
  EXPECT_EQ(EnsurePrivateRuntimeFolder(), QString());  // nobody's folder is not taken over
  InstanceGuard first, second;
  EXPECT_TRUE(first.Acquire());
  EXPECT_FALSE(second.Acquire());
  EXPECT_TRUE(QFileInfo::exists(home + "/.cache/kd735/KD735"));
  for (const QString& folder : taken) EXPECT_TRUE(QDir(folder).isEmpty()) << folder.toStdString();
}

// With a runtime folder of its own the lock lives there, and only one program holds it.
TEST(InstanceGuard, LockInTheRuntimeFolder) {
  QTemporaryDir runtime;
  ASSERT_EQ(::chmod(QFile::encodeName(runtime.path()).constData(), 0700), 0);
  Environment env;
  env.Set("XDG_RUNTIME_DIR", runtime.path());
  {
    InstanceGuard first, second;
    EXPECT_TRUE(first.Acquire());
    EXPECT_TRUE(QFileInfo::exists(runtime.filePath("KD735")));
    EXPECT_FALSE(second.Acquire());
  }
  InstanceGuard next;
  EXPECT_TRUE(next.Acquire());  // the first one let go
}

}  // namespace
}  // namespace kd735
