// The programs as processes on a real X server (Xvfb): one program of the family at a time, and a
// program killed outright never blocks the next start.
#include <gtest/gtest.h>

#include <signal.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>

#include "tests/common/event_helpers.h"
#include "tests/common/requirements.h"

namespace {

using namespace std::chrono_literals;

using kd735::testing::App;

const QString kReport = QStringLiteral(KD735_REPORT_PROGRAM);
const QString kVirtual = QStringLiteral(KD735_VIRTUAL_PROGRAM);

class ProgramProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    xvfb_ = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    xdotool_ = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    KD735_NEED(!xvfb_.isEmpty() && !xdotool_.isEmpty(), "Xvfb or xdotool");
    ASSERT_TRUE(runtime_.isValid());
    // -displayfd: the server picks a free display and tells us its number.
    server_.setProgram(xvfb_);
    server_.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                          QStringLiteral("-screen"), QStringLiteral("0"),
                          QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                          QStringLiteral("tcp")});
    server_.start();
    ASSERT_TRUE(server_.waitForStarted(5000));
    QByteArray number;
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!number.contains('\n') && std::chrono::steady_clock::now() < until) {
      server_.waitForReadyRead(100);
      number += server_.readAllStandardOutput();
    }
    ASSERT_TRUE(number.contains('\n')) << "Xvfb did not start";
    display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
  }

  void TearDown() override {
    for (QProcess* p : started_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
      delete p;
    }
    if (server_.state() != QProcess::NotRunning) {
      server_.terminate();
      server_.waitForFinished(5000);
    }
  }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display_);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
  }

  QProcess* Start(const QString& program) {
    auto* p = new QProcess;
    started_ << p;
    p->setProcessEnvironment(Environment());
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(program, {QStringLiteral("--simulate")});
    EXPECT_TRUE(p->waitForStarted(5000));
    return p;
  }

  // Runs xdotool; its standard output.
  QString XDoTool(const QStringList& arguments, int timeoutMs = 15000) const {
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(xdotool_, arguments);
    tool.waitForFinished(timeoutMs);
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
  }

  // Waits until a window of that exact name is mapped; its id or empty.
  QString WaitForWindow(const QString& name) const {
    const auto until = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < until) {
      const QString id = XDoTool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                  QStringLiteral("--name"), QStringLiteral("^") + name + "$"},
                                 3000);
      if (!id.isEmpty()) return id.split('\n').first();
      QThread::msleep(100);
    }
    return {};
  }

  static QString Caption(const QString& program) {
    return program == kReport
               ? QStringLiteral("  Генератор отчетов ультразвукового толщиномера КД735 ")
               : QStringLiteral(" Виртуальный толщиномер КД735 ");
  }

  QString xvfb_, xdotool_, display_;
  QTemporaryDir runtime_;
  QProcess server_;
  QList<QProcess*> started_;
};

TEST_F(ProgramProcessTest, SecondStartIsRefusedAndTheFirstGoesOn) {
  struct Case {
    QString first, second;
  };
  for (const Case& c : {Case{kReport, kVirtual}, Case{kVirtual, kReport}, Case{kReport, kReport}}) {
    SCOPED_TRACE(
        (QFileInfo(c.first).fileName() + " then " + QFileInfo(c.second).fileName()).toStdString());
    QProcess* first = Start(c.first);
    ASSERT_FALSE(WaitForWindow(Caption(c.first)).isEmpty());

    QProcess* second = Start(c.second);
    const QString box = WaitForWindow(QStringLiteral("Information"));
    ASSERT_FALSE(box.isEmpty()) << "no refusal box";
    // No window of the second program came up.
    EXPECT_TRUE(XDoTool({"search", "--all", "--onlyvisible", "--pid",
                         QString::number(second->processId()), "--name", "КД735"})
                    .isEmpty());
    XDoTool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), box, QStringLiteral("key"),
             QStringLiteral("Return")});
    ASSERT_TRUE(second->waitForFinished(10000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);

    // The first one is undisturbed and ends cleanly on SIGTERM.
    EXPECT_EQ(first->state(), QProcess::Running);
    ::kill(pid_t(first->processId()), SIGTERM);
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);
  }
}

TEST_F(ProgramProcessTest, AStartAfterAKilledProgramIsNotRefused) {
  QProcess* first = Start(kReport);
  ASSERT_FALSE(WaitForWindow(Caption(kReport)).isEmpty());
  ::kill(pid_t(first->processId()), SIGKILL);
  ASSERT_TRUE(first->waitForFinished(5000));
  EXPECT_TRUE(QFile::exists(runtime_.filePath(QStringLiteral("KD735"))));  // the lock is left

  QProcess* next = Start(kVirtual);
  ASSERT_FALSE(WaitForWindow(Caption(kVirtual)).isEmpty());
  ::kill(pid_t(next->processId()), SIGTERM);
  ASSERT_TRUE(next->waitForFinished(10000));
  EXPECT_EQ(next->exitCode(), 0);
  EXPECT_FALSE(QFile::exists(runtime_.filePath(QStringLiteral("KD735"))));
}

}  // namespace
