#pragma once

// Test support for the Writer engine: whether it can run here, one headless LibreOffice shared by
// the tests of a program (private profile, its own pipe, ended when the program's tests end, also
// after a failure), the second UNO client writer_peer, and signals to a LibreOffice.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

#include <signal.h>
#include <unistd.h>

#include "report/word_backend.h"
#include "report/writer_word.h"

namespace kd735::testing {

// Why the Writer engine cannot run here; empty when it can.
inline QString WriterUnavailable() {
  static const QString why = CheckWordBackend(WordBackend::kWriter).reason;
  return why;
}

#define KD735_SKIP_WITHOUT_WRITER()                                                    \
  do {                                                                                 \
    if (const QString why = ::kd735::testing::WriterUnavailable(); !why.isEmpty())     \
      GTEST_SKIP() << "LibreOffice Writer cannot be used here: " << why.toStdString(); \
  } while (false)

inline QString UniquePipe(const char* what) {
  return QStringLiteral("kd735_test_%1_%2_%3")
      .arg(QLatin1String(what))
      .arg(getpid())
      .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Options of a private headless LibreOffice in `profile`.
inline WriterWordOptions PrivateOffice(const QString& profile, const char* what) {
  WriterWordOptions o;
  o.headless = true;
  o.profileDir = profile;
  o.pipeName = UniquePipe(what);
  return o;
}

// One LibreOffice for all tests of the program, started by the first test that asks for it.
class SharedWriter : public ::testing::Environment {
 public:
  // The options that attach to it; the start's failure fails the calling test.
  static WriterWordOptions Options() {
    SharedWriter& s = *instance_;
    if (!s.owner_) {
      s.dir_ = std::make_unique<QTemporaryDir>();
      s.options_ = PrivateOffice(s.dir_->filePath(QStringLiteral("profile")), "shared");
      s.owner_ = std::make_unique<WriterWord>(s.clipboard_, s.options_);
      s.started_ = s.owner_->Connect();
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
  PictureClipboard clipboard_;
  WriterWordOptions options_;
  std::unique_ptr<WriterWord> owner_;
  WordStatus started_;
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

}  // namespace kd735::testing
