#pragma once

// Test support for the Writer engine: whether it can run here, one headless LibreOffice shared by
// the tests of a program (private profile, its own pipe, ended when the program's tests end, also
// after a failure), the second UNO client writer_peer, and signals to a LibreOffice.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include <signal.h>
#include <unistd.h>

#include "report/word_backend.h"  // the engines' names, for the tests of both
#include "report/writer_engine.h"
#include "tests/common/requirements.h"

namespace kd735::testing {

// Why the Writer tests cannot run here, from facts the engine has no say in: the helper was not
// built (no LibreOffice SDK) or LibreOffice is not installed. Empty when they can run.
inline QString WriterMissing() {
  if (QStringLiteral(KD735_WRITER_HELPER).isEmpty())
    return QStringLiteral("the LibreOffice SDK was not found, kd735_writer is not built");
  if (QStandardPaths::findExecutable(QStringLiteral("soffice")).isEmpty())
    return QStringLiteral("soffice (LibreOffice) is not installed");
  return {};
}

// After the test set-up, which installs LibreOffice and its SDK (KD735_REQUIRE_SETUP), a
// missing Writer fails the test instead of skipping it.
#define KD735_SKIP_WITHOUT_WRITER()                                                    \
  do {                                                                                 \
    if (const QString why = ::kd735::testing::WriterMissing(); !why.isEmpty()) {       \
      if (::kd735::testing::SetUpInstalledEverything())                                \
        FAIL() << "LibreOffice Writer is required here: " << why.toStdString();        \
      GTEST_SKIP() << "LibreOffice Writer cannot be used here: " << why.toStdString(); \
    }                                                                                  \
  } while (false)

inline QString UniquePipe(const char* what) {
  return QStringLiteral("kd735_test_%1_%2_%3")
      .arg(QLatin1String(what))
      .arg(getpid())
      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Options of a private headless LibreOffice in `profile`; documents it keeps go to "reports"
// beside the profile.
inline WriterEngineOptions PrivateOffice(const QString& profile, const char* what) {
  WriterEngineOptions o;
  o.helper = QStringLiteral(KD735_WRITER_HELPER);
  o.headless = true;
  o.profileDir = profile;
  o.pipeName = UniquePipe(what);
  o.reportsFolder = QFileInfo(profile).dir().filePath(QStringLiteral("reports"));
  return o;
}

// One LibreOffice for all tests of the program, started by the first test that asks for it.
class SharedWriter : public ::testing::Environment {
 public:
  // The options that attach to it; the start's failure fails the calling test.
  static WriterEngineOptions Options() {
    SharedWriter& s = *instance_;
    if (!s.owner_) {
      s.dir_ = std::make_unique<QTemporaryDir>();
      s.options_ = PrivateOffice(s.dir_->filePath(QStringLiteral("profile")), "shared");
      s.owner_ = std::make_unique<WriterEngine>(s.options_);
      s.started_ = s.owner_->Begin();
      s.owner_->End();
    }
    EXPECT_TRUE(s.started_.ok()) << s.started_.text().toStdString();
    return s.options_;
  }
  void TearDown() override {
    owner_.reset();  // ends the LibreOffice it started
    dir_.reset();
  }
  static SharedWriter* Register() {
    instance_ = new SharedWriter;
    ::testing::AddGlobalTestEnvironment(instance_);  // gtest owns it
    return instance_;
  }

 private:
  static inline SharedWriter* instance_ = nullptr;
  std::unique_ptr<QTemporaryDir> dir_;
  WriterEngineOptions options_;
  std::unique_ptr<WriterEngine> owner_;
  PortStatus started_;
};

// Runs writer_peer on the pipe; returns its output ("done", "shown", ...), or its error.
inline std::string RunPeer(const QString& pipe, const QString& action) {
  QProcess p;
  p.start(QStringLiteral(KD735_WRITER_PEER), {pipe, action});
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return "writer_peer did not end";
  }
  const QByteArray out = p.readAllStandardOutput().trimmed();
  return (p.exitCode() == 0 ? out : p.readAllStandardError().trimmed()).toStdString();
}

// Sends a signal to the whole LibreOffice (soffice and soffice.bin share its process group).
inline void SignalOffice(qint64 group, int signal) {
  if (group > 0) kill(-static_cast<pid_t>(group), signal);
}

// Whether any process of the group is left.
inline bool GroupAlive(qint64 group) {
  return group > 0 && kill(-static_cast<pid_t>(group), 0) == 0;
}

}  // namespace kd735::testing
