// What users do to Writer while the report program works: close the document, quit LibreOffice,
// kill soffice, leave a dialog open, or LibreOffice stops answering. Each call ends with Writer's
// text (or one naming the lost connection), never in a hang or a crash, and the next "create
// document" works again. Every test has a headless LibreOffice of its own (private profile, own
// pipe), ended with the test.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <string>

#include <signal.h>

#include "files/picture.h"
#include "report/data_block.h"
#include "report/writer_engine.h"
#include "tests/files/record_builder.h"
#include "tests/report/writer_support.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);
const QString kConnectionLost = u"Связь с LibreOffice Writer потеряна: он закрыт или завершился."_s;

// The process under `parent` whose command line is `command` (arguments ended by NUL each), or
// starts with it; 0 when there is none.
pid_t ChildProcess(qint64 parent, const QByteArray& command, bool whole = false) {
  for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
    bool number = false;
    const int pid = entry.toInt(&number);
    if (!number) continue;
    QFile stat(u"/proc/"_s + entry + u"/stat"_s);
    QFile cmdline(u"/proc/"_s + entry + u"/cmdline"_s);
    if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly)) continue;
    const QByteArray line = stat.readAll();
    // pid (name) state ppid ...; the name may hold blanks, so look behind its ')'. One that has
    // ended (a LibreOffice restarting itself leaves one for a moment) does not count.
    const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const QByteArray args = cmdline.readAll();
    if (rest.size() > 1 && rest[0] != "Z" && rest[0] != "X" && rest[1].toLongLong() == parent &&
        (whole ? args == command : args.startsWith(command)))
      return pid;
  }
  return 0;
}

// soffice.bin, the office process under the soffice launcher `launcher`.
pid_t OfficeBinary(qint64 launcher) {
  return ChildProcess(launcher, QByteArrayLiteral("/usr/lib/libreoffice/program/soffice.bin"));
}

class WriterFault : public ::testing::Test {
 protected:
  void SetUp() override {
    KD735_SKIP_WITHOUT_WRITER();
    ASSERT_TRUE(dir_.isValid());
    options_ = testing::PrivateOffice(dir_.filePath(u"profile"_s), "fault");
  }
  // Starts LibreOffice and makes the first document.
  void Start() {
    engine_ = std::make_unique<WriterEngine>(options_);
    ASSERT_TRUE(Create());
    ASSERT_NE(engine_->officeProcessId(), 0);
  }
  void TearDown() override {
    if (engine_) testing::SignalOffice(engine_->officeProcessId(), SIGCONT);
    engine_.reset();  // ends its LibreOffice
  }

  // "Create document" as the report does it: one action.
  PortStatus Create() {
    PortStatus s = engine_->Begin();
    QString name;
    if (s) s = engine_->CreateDocument(kTemplate, &name);
    if (s) s = engine_->FillVariables({{u"NUMBER"_s, u"0001"_s}});
    engine_->End();
    return s;
  }
  DataBlock Block(int number) const {
    const RecordBuilder m = RecordBuilder::Measurement();
    ReportSettings settings;
    BlockText text = BuildMeasureBlock(m.record, settings);
    DataBlock block;
    block.number = number;
    block.picture = RenderPicture(m.record, true);
    block.lines = text.lines;
    block.font = text.font;
    return block;
  }
  // One block in an action of its own.
  PortStatus Send(BlockOutcome* outcome, int number = 1) {
    PortStatus s = engine_->Begin();
    if (s) s = engine_->AppendBlock(Block(number), outcome);
    engine_->End();
    return s;
  }
  QString Pipe() const { return options_.pipeName; }

  QTemporaryDir dir_;
  WriterEngineOptions options_;
  std::unique_ptr<WriterEngine> engine_;
};

TEST_F(WriterFault, TheDocumentClosedInWriter) {
  ASSERT_NO_FATAL_FAILURE(Start());
  BlockOutcome outcome;
  ASSERT_TRUE(Send(&outcome));
  // Between two blocks: Writer has no document left, and nothing is done.
  ASSERT_EQ(testing::RunPeer(Pipe(), u"close-documents"_s), "done");
  EXPECT_TRUE(Send(&outcome));
  EXPECT_TRUE(outcome.noDocument);
  EXPECT_EQ(outcome.reached, BlockStage::kNone);

  ASSERT_TRUE(Create());
  EXPECT_TRUE(Send(&outcome));
  EXPECT_EQ(outcome.reached, BlockStage::kComplete);
}

TEST_F(WriterFault, WriterQuitByTheUser) {
  ASSERT_NO_FATAL_FAILURE(Start());
  BlockOutcome outcome;
  ASSERT_TRUE(Send(&outcome));
  const qint64 first = engine_->officeProcessId();
  // Between two blocks: the next block starts LibreOffice anew, as Word would, and finds no
  // document.
  ASSERT_EQ(testing::RunPeer(Pipe(), u"terminate"_s), "done");
  EXPECT_TRUE(Send(&outcome));
  EXPECT_TRUE(outcome.noDocument);
  EXPECT_NE(engine_->officeProcessId(), 0);
  EXPECT_NE(engine_->officeProcessId(), first);

  // Within a "send all": the blocks after the quit find the connection gone.
  ASSERT_TRUE(Create());
  ASSERT_TRUE(engine_->Begin());
  ASSERT_TRUE(engine_->AppendBlock(Block(1), &outcome));
  ASSERT_EQ(testing::RunPeer(Pipe(), u"terminate"_s), "done");
  const PortStatus s = engine_->AppendBlock(Block(2), &outcome);
  engine_->End();
  EXPECT_FALSE(s);
  // Quitting closes the document first, then the connection goes; the block sees one of them,
  // before its row or part way through it (Writer quits while the helper works).
  EXPECT_TRUE(s.text() == kConnectionLost || s.text().contains(u"Документ закрыт"_s))
      << s.text().toStdString();
  EXPECT_NE(outcome.reached, BlockStage::kComplete);

  // The next document waits for that LibreOffice to end and starts it anew.
  ASSERT_TRUE(Create());
  EXPECT_TRUE(Send(&outcome));
}

// LibreOffice dies in the middle of a "send all", once between two blocks and once within one:
// the block reports the lost connection in the user's words, never the bridge's own text.
TEST_F(WriterFault, SofficeKilledDuringSendAll) {
  ASSERT_NO_FATAL_FAILURE(Start());
  for (const bool withinBlock : {false, true}) {
    SCOPED_TRACE(withinBlock ? "within a block" : "between blocks");
    const qint64 launcher = engine_->officeProcessId();
    const pid_t office = OfficeBinary(launcher);
    ASSERT_NE(office, 0);
    BlockOutcome outcome;
    ASSERT_TRUE(engine_->Begin());
    ASSERT_TRUE(engine_->AppendBlock(Block(1), &outcome));
    QProcess killer;
    if (withinBlock) {
      // Stopped, LibreOffice cannot finish the block before it is killed (a moment after the
      // block was sent, or before: the block fails the same way).
      testing::SignalOffice(launcher, SIGSTOP);
      kill(office, SIGSTOP);
      killer.start(u"/bin/sh"_s, {u"-c"_s, u"sleep 0.3; kill -KILL %1"_s.arg(office)});
      ASSERT_TRUE(killer.waitForStarted());
    } else {
      ASSERT_EQ(kill(office, SIGKILL), 0);
      // Until the launcher noticed: the connection is certainly gone then.
      for (int i = 0; i < 500 && engine_->officeProcessId() == launcher; ++i) QThread::msleep(10);
    }
    const PortStatus s = engine_->AppendBlock(Block(2), &outcome);
    killer.waitForFinished();
    testing::SignalOffice(launcher, SIGCONT);
    engine_->End();
    EXPECT_FALSE(s);
    EXPECT_EQ(s.kind(), PortStatus::Kind::kConnectionLost);
    EXPECT_EQ(s.text(), kConnectionLost);
    EXPECT_EQ(outcome.reached, BlockStage::kNone);

    ASSERT_TRUE(Create());
    EXPECT_NE(engine_->officeProcessId(), launcher);
    EXPECT_TRUE(Send(&outcome));
  }
}

// The helper itself dies mid "send all": the next block names the lost connection.
TEST_F(WriterFault, HelperKilledDuringSendAll) {
  ASSERT_NO_FATAL_FAILURE(Start());
  BlockOutcome outcome;
  ASSERT_TRUE(engine_->Begin());
  ASSERT_TRUE(engine_->AppendBlock(Block(1), &outcome));
  const pid_t helper =
      ChildProcess(getpid(), QFile::encodeName(options_.helper) + '\0', /*whole=*/true);
  ASSERT_NE(helper, 0);
  ASSERT_EQ(kill(helper, SIGKILL), 0);
  const PortStatus s = engine_->AppendBlock(Block(2), &outcome);
  engine_->End();
  EXPECT_EQ(s.kind(), PortStatus::Kind::kConnectionLost);
  EXPECT_TRUE(s.text().startsWith(u"Связь с LibreOffice Writer потеряна"_s))
      << s.text().toStdString();
  ASSERT_TRUE(Create());
  EXPECT_TRUE(Send(&outcome));
}

// A modal dialog in Writer (opened by another client, as LibreOffice opens its own questions):
// Writer goes on taking the report's calls. A LibreOffice without --headless is needed for a
// dialog to stay open; the headless display back end keeps it off any screen.
TEST_F(WriterFault, AModalDialogOpenInWriter) {
  options_.headless = false;
  // A desktop LibreOffice will not end while its dialog is up: "close all" then reports it.
  options_.quitTimeoutMs = 10000;
  qputenv("SAL_USE_VCLPLUGIN", "svp");
  ASSERT_NO_FATAL_FAILURE(Start());
  qunsetenv("SAL_USE_VCLPLUGIN");
  QProcess peer;
  peer.start(QStringLiteral(KD735_WRITER_PEER), {Pipe(), u"dialog"_s});
  ASSERT_TRUE(peer.waitForReadyRead(60000));
  ASSERT_EQ(peer.readLine().trimmed(), "shown");
  QThread::msleep(500);
  BlockOutcome outcome;
  PortStatus s = Send(&outcome);
  EXPECT_TRUE(s) << s.text().toStdString();
  EXPECT_TRUE(Create());
  EXPECT_TRUE(Send(&outcome));
  EXPECT_EQ(peer.state(), QProcess::Running) << "the dialog was open all the time";
  // Closing never hangs: it works, or it reports why not.
  ASSERT_TRUE(engine_->Begin());
  CloseOutcome closed;
  s = engine_->CloseDocuments(&closed);
  engine_->End();
  if (!s) {
    EXPECT_FALSE(s.text().isEmpty());
  }
  peer.kill();
  peer.waitForFinished();
  EXPECT_TRUE(Create());
  EXPECT_TRUE(Send(&outcome));
}

// A Writer that does not answer, as a call sees it while Writer waits for the user in a dialog:
// the call ends at its time limit with the error, and once Writer answers again the next
// document is made.
TEST_F(WriterFault, WriterNotAnswering) {
  options_.callTimeoutMs = 2000;
  options_.quitTimeoutMs = 2000;
  ASSERT_NO_FATAL_FAILURE(Start());
  BlockOutcome outcome;
  ASSERT_TRUE(Send(&outcome));
  const qint64 office = engine_->officeProcessId();
  // Within a "send all" of two files, once the first block is in.
  ASSERT_TRUE(engine_->Begin());
  ASSERT_TRUE(engine_->AppendBlock(Block(2), &outcome));
  testing::SignalOffice(office, SIGSTOP);
  PortStatus s = engine_->AppendBlock(Block(3), &outcome);
  engine_->End();
  EXPECT_TRUE(s.text().startsWith(u"LibreOffice Writer не ответил за 2 с."_s))
      << s.text().toStdString();
  testing::SignalOffice(office, SIGCONT);
  EXPECT_EQ(testing::RunPeer(Pipe(), u"updates"_s), "held")
      << "the ended helper left the document's layout held back";
  ASSERT_TRUE(Create());
  EXPECT_EQ(testing::RunPeer(Pipe(), u"updates"_s).find("held"), std::string::npos)
      << "the next connection gave it back";
  ASSERT_TRUE(Send(&outcome));

  // Closing while Writer does not answer ends at its limit too.
  ASSERT_TRUE(engine_->Begin());
  testing::SignalOffice(office, SIGSTOP);
  CloseOutcome closed;
  s = engine_->CloseDocuments(&closed);
  engine_->End();
  EXPECT_TRUE(s.text().startsWith(u"LibreOffice Writer не ответил за 2 с."_s))
      << s.text().toStdString();
  testing::SignalOffice(office, SIGCONT);
  s = Create();
  EXPECT_TRUE(s) << s.text().toStdString();
  EXPECT_TRUE(Send(&outcome));
}

// Writer missing or broken: the reason comes, in time, from the action's first call.
class WriterMissing : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString Script(const char* name, const char* body) {
    const QString path = dir_.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("#!/bin/sh\n") + body + "\n");
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
  }
  QString BeginWith(const WriterEngineOptions& options) {
    WriterEngine engine(options);
    const PortStatus s = engine.Begin();
    EXPECT_FALSE(s);
    return s.text();
  }
  QTemporaryDir dir_;
};

TEST_F(WriterMissing, TheReasonComesFromTheFirstCall) {
  WriterEngineOptions options = testing::PrivateOffice(dir_.filePath(u"profile"_s), "missing");
  options.helper = dir_.filePath(u"kd735_writer"_s);
  EXPECT_TRUE(BeginWith(options).contains(u"kd735_writer"_s));

  KD735_SKIP_WITHOUT_WRITER();
  options.helper = QStringLiteral(KD735_WRITER_HELPER);
  options.soffice = dir_.filePath(u"soffice"_s);  // no such program
  EXPECT_EQ(BeginWith(options),
            u"LibreOffice Writer не установлен: не найдена программа soffice."_s);

  options.soffice = Script("failing", "exit 3");
  EXPECT_EQ(BeginWith(options), u"LibreOffice Writer завершился при запуске (код 3)."_s);

  // One that never answers is ended at the time limit.
  options.soffice = Script("silent", "echo $$ > \"$0.pid\"; exec sleep 60");
  options.startTimeoutMs = 1500;
  EXPECT_EQ(BeginWith(options), u"LibreOffice Writer не ответил за 2 с после запуска."_s);
  QFile pidFile(options.soffice + u".pid"_s);
  ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
  const pid_t pid = pidFile.readAll().trimmed().toInt();
  ASSERT_GT(pid, 0);
  EXPECT_NE(kill(pid, 0), 0) << "it was ended";
}

}  // namespace
}  // namespace kd735
