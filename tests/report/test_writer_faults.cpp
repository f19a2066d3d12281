// What users do to Writer while the report program works: close the document, quit LibreOffice,
// kill soffice, leave a dialog open. Each ends in the report's own message boxes with Writer's
// text, never in a hang or a crash, and the next "create document" works again. Every test has a
// headless LibreOffice of its own (private profile, own pipe), ended with the test.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <signal.h>

#include "report/word_backend.h"
#include "report/word_report.h"
#include "report/writer_word.h"
#include "tests/files/record_builder.h"
#include "tests/report/writer_support.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);

class RecordingFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage& message) override { messages.push_back(message); }
  void SetStatusText(const QString&) override {}
  std::vector<ReportMessage> messages;
};

// Passes every call on to Writer; `before` runs ahead of each, with the operation's name.
class HookedWord : public WordAutomation {
 public:
  explicit HookedWord(WordAutomation& w) : w_(w) {}
  std::function<void(const std::string& op)> before = [](const std::string&) {};

  WordStatus Connect() override {
    return Run("Connect", [&] { return w_.Connect(); });
  }
  WordStatus Disconnect() override {
    return Run("Disconnect", [&] { return w_.Disconnect(); });
  }
  WordStatus SetVisible(bool v) override {
    return Run("SetVisible", [&] { return w_.SetVisible(v); });
  }
  WordStatus SetOption(bool v) override {
    return Run("SetOption", [&] { return w_.SetOption(v); });
  }
  WordStatus DocumentsCount(int* c) override {
    return Run("DocumentsCount", [&] { return w_.DocumentsCount(c); });
  }
  WordStatus DocumentsAdd(const QString& t, bool n) override {
    return Run("DocumentsAdd", [&] { return w_.DocumentsAdd(t, n); });
  }
  WordStatus ActiveDocument(WordDocumentRef* d) override {
    return Run("ActiveDocument", [&] { return w_.ActiveDocument(d); });
  }
  WordStatus Activate() override {
    return Run("Activate", [&] { return w_.Activate(); });
  }
  WordStatus Quit() override {
    return Run("Quit", [&] { return w_.Quit(); });
  }
  WordStatus Name(WordDocumentRef d, QString* n) override {
    return Run("Name", [&] { return w_.Name(d, n); });
  }
  WordStatus SetVariable(WordDocumentRef d, const QString& n, const QString& v) override {
    return Run("SetVariable", [&] { return w_.SetVariable(d, n, v); });
  }
  WordStatus FieldsUpdate(WordDocumentRef d) override {
    return Run("FieldsUpdate", [&] { return w_.FieldsUpdate(d); });
  }
  WordStatus TablesItem(WordDocumentRef d, int p, WordTableRef* t) override {
    return Run("TablesItem", [&] { return w_.TablesItem(d, p, t); });
  }
  WordStatus RowsAdd(WordTableRef t) override {
    return Run("RowsAdd", [&] { return w_.RowsAdd(t); });
  }
  WordStatus RowsCount(WordTableRef t, int* c) override {
    return Run("RowsCount", [&] { return w_.RowsCount(t, c); });
  }
  WordStatus CellSelect(WordTableRef t, int r, int c) override {
    return Run("CellSelect", [&] { return w_.CellSelect(t, r, c); });
  }
  WordStatus SetSelectionAlignment(int a) override {
    return Run("SetSelectionAlignment", [&] { return w_.SetSelectionAlignment(a); });
  }
  WordStatus SetSelectionText(const QString& t) override {
    return Run("SetSelectionText", [&] { return w_.SetSelectionText(t); });
  }
  WordStatus SelectionPaste() override {
    return Run("SelectionPaste", [&] { return w_.SelectionPaste(); });
  }
  WordStatus SetSelectionFontName(const QString& n) override {
    return Run("SetSelectionFontName", [&] { return w_.SetSelectionFontName(n); });
  }
  WordStatus SetSelectionFontSize(float p) override {
    return Run("SetSelectionFontSize", [&] { return w_.SetSelectionFontSize(p); });
  }
  WordStatus SetSelectionFontBold(int b) override {
    return Run("SetSelectionFontBold", [&] { return w_.SetSelectionFontBold(b); });
  }
  WordStatus SetSelectionFontItalic(int i) override {
    return Run("SetSelectionFontItalic", [&] { return w_.SetSelectionFontItalic(i); });
  }
  WordStatus SetSelectionFontColorIndex(int c) override {
    return Run("SetSelectionFontColorIndex", [&] { return w_.SetSelectionFontColorIndex(c); });
  }
  WordStatus SelectionCollapse(int d) override {
    return Run("SelectionCollapse", [&] { return w_.SelectionCollapse(d); });
  }

 private:
  template <typename F>
  WordStatus Run(const char* op, F call) {
    before(op);
    return call();
  }
  WordAutomation& w_;
};

// The pid of soffice.bin, the office process under the soffice launcher `launcher`.
pid_t OfficeBinary(qint64 launcher) {
  for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
    bool number = false;
    const int pid = entry.toInt(&number);
    if (!number) continue;
    QFile stat(u"/proc/"_s + entry + u"/stat"_s);
    if (!stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray line = stat.readAll();
    // pid (name) state ppid ...; the name may hold blanks, so look behind its ')'.
    const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (rest.size() > 1 && rest[1].toLongLong() == launcher && line.contains("(soffice.bin)"))
      return pid;
  }
  return 0;
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
    writer_ = std::make_unique<WriterWord>(clipboard_, options_);
    word_ = std::make_unique<HookedWord>(*writer_);
    port_ = std::make_unique<AutomationPort>(*word_, clipboard_);
    report_ = std::make_unique<WordReport>(*port_, clipboard_, feedback_);
    ASSERT_TRUE(Create());
    ASSERT_NE(writer_->officeProcessId(), 0);
  }
  void TearDown() override {
    if (writer_) testing::SignalOffice(writer_->officeProcessId(), SIGCONT);
    report_.reset();
    port_.reset();
    word_.reset();
    writer_.reset();  // ends its LibreOffice
  }

  bool Create() {
    feedback_.messages.clear();
    return report_->CreateWordDocument(kTemplate, settings_, u"КД735 №7"_s);
  }
  bool Send() {
    feedback_.messages.clear();
    const TKD735FileContent m{RecordBuilder::Measurement().record};
    return report_->SendSelectedFile(BlockKind::Measure, &m, settings_);
  }
  QString Pipe() const { return options_.pipeName; }

  // The two boxes of a failed block: Writer's text (which must contain `writerText`), then the
  // fixed error ending in the table number.
  void ExpectBlockError(const QString& writerText) {
    ASSERT_EQ(feedback_.messages.size(), 2u);
    EXPECT_EQ(feedback_.messages[0].kind, MessageBoxKind::Plain);
    EXPECT_TRUE(feedback_.messages[0].text.contains(writerText))
        << feedback_.messages[0].text.toStdString();
    EXPECT_EQ(feedback_.messages[1],
              (ReportMessage{MessageBoxKind::Error,
                             u"Ошибка добавления блока данных в Word.\rНет такой ячейки в таблице "
                             u"или\rв документе нет таблицы с номером 1"_s}));
    EXPECT_EQ(report_->ReportStatusText(), u"Ошибка добавления блока данных в Word."_s);
  }
  void ExpectNoDocument() {
    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_EQ(feedback_.messages[0],
              (ReportMessage{MessageBoxKind::Information,
                             u"Сначала нужно создать документ Word.\rПотом передавайте в него "
                             u"файлы КД735."_s}));
    EXPECT_EQ(report_->ReportStatusText(), u"Нет открытых документов Word."_s);
  }
  // Runs `action` once, ahead of the `n`-th call of `op`.
  void Before(const std::string& op, int n, std::function<void()> action) {
    auto calls = std::make_shared<int>(0);
    word_->before = [=](const std::string& o) {
      if (o == op && ++*calls == n) action();
    };
  }

  QTemporaryDir dir_;
  WriterWordOptions options_;
  PictureClipboard clipboard_;
  std::unique_ptr<WriterWord> writer_;
  std::unique_ptr<HookedWord> word_;
  std::unique_ptr<AutomationPort> port_;
  RecordingFeedback feedback_;
  std::unique_ptr<WordReport> report_;
  ReportSettings settings_;
};

TEST_F(WriterFault, TheDocumentClosedInWriter) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Send());
  // Between two blocks: Writer has no document left.
  ASSERT_EQ(testing::RunPeer(Pipe(), u"close-documents"_s), "done");
  EXPECT_FALSE(Send());
  ExpectNoDocument();
  EXPECT_EQ(report_->MeasureBlockCount(), 1);

  // Within a block, before the text of its third cell.
  ASSERT_TRUE(Create());
  Before("SetSelectionText", 2,
         [&] { ASSERT_EQ(testing::RunPeer(Pipe(), u"close-documents"_s), "done"); });
  EXPECT_FALSE(Send());
  ExpectBlockError(u"Документ закрыт в LibreOffice Writer."_s);
  EXPECT_EQ(report_->MeasureBlockCount(), 1) << "the number written before stays";

  word_->before = [](const std::string&) {};
  ASSERT_TRUE(Create());
  EXPECT_TRUE(Send());
}

TEST_F(WriterFault, WriterQuitByTheUser) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Send());
  const qint64 first = writer_->officeProcessId();
  // Between two blocks: the next block starts LibreOffice anew, as Word would, and finds no
  // document.
  ASSERT_EQ(testing::RunPeer(Pipe(), u"terminate"_s), "done");
  EXPECT_FALSE(Send());
  ExpectNoDocument();
  EXPECT_NE(writer_->officeProcessId(), 0);
  EXPECT_NE(writer_->officeProcessId(), first);

  // Within a block.
  ASSERT_TRUE(Create());
  Before("RowsCount", 1, [&] { ASSERT_EQ(testing::RunPeer(Pipe(), u"terminate"_s), "done"); });
  EXPECT_FALSE(Send());
  // Quitting closes the document first, then the connection goes; the block sees one of them.
  ASSERT_EQ(feedback_.messages.size(), 2u);
  const QString& text = feedback_.messages[0].text;
  EXPECT_TRUE(text.contains(u"Документ закрыт в LibreOffice Writer."_s) ||
              text.contains(u"Связь с LibreOffice Writer потеряна"_s))
      << text.toStdString();
  ExpectBlockError(QString());

  // The next document waits for that LibreOffice to end and starts it anew.
  word_->before = [](const std::string&) {};
  ASSERT_TRUE(Create()) << (feedback_.messages.empty() ? std::string()
                                                       : feedback_.messages[0].text.toStdString());
  EXPECT_TRUE(Send());
}

TEST_F(WriterFault, SofficeKilled) {
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Send());
  const qint64 launcher = writer_->officeProcessId();
  const pid_t office = OfficeBinary(launcher);
  ASSERT_NE(office, 0);
  Before("CellSelect", 2, [&] {
    ASSERT_EQ(kill(office, SIGKILL), 0);
    // Until the launcher noticed: the connection is certainly gone then.
    for (int i = 0; i < 500 && writer_->officeProcessId() == launcher; ++i) QThread::msleep(10);
  });
  EXPECT_FALSE(Send());
  ExpectBlockError(u"Связь с LibreOffice Writer потеряна"_s);
  EXPECT_EQ(report_->MeasureBlockCount(), 2);

  word_->before = [](const std::string&) {};
  ASSERT_TRUE(Create());
  EXPECT_NE(writer_->officeProcessId(), launcher);
  EXPECT_TRUE(Send());
  EXPECT_EQ(report_->MeasureBlockCount(), 1);
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
  EXPECT_TRUE(Send()) << (feedback_.messages.empty() ? std::string()
                                                     : feedback_.messages[0].text.toStdString());
  EXPECT_TRUE(Create());
  EXPECT_TRUE(Send());
  EXPECT_EQ(peer.state(), QProcess::Running) << "the dialog was open all the time";
  // The headless package ends Writer with its dialog; the desktop one refuses while the dialog
  // waits for an answer, which is reported with a box (never a hang).
  feedback_.messages.clear();
  if (report_->CloseWordDocuments()) {
    EXPECT_EQ(report_->ReportStatusText(), u"Документы Word закрыты."_s);
  } else {
    ASSERT_EQ(feedback_.messages.size(), 1u);
    EXPECT_FALSE(feedback_.messages[0].text.isEmpty());
  }
  peer.kill();
  peer.waitForFinished();
  EXPECT_TRUE(Create());
  EXPECT_TRUE(Send());
}

// A Writer that does not answer, as a call sees it while Writer waits for the user in a dialog
// (its "save changes?" question on quitting): the operation ends at its time limit with the
// error boxes, and once Writer answers again the next document is made.
TEST_F(WriterFault, WriterNotAnswering) {
  options_.callTimeoutMs = 2000;
  options_.quitTimeoutMs = 2000;
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(Send());
  const qint64 office = writer_->officeProcessId();
  // Within a "send all" of two files, once the first block's row is added.
  Before("CellSelect", 1, [&] { testing::SignalOffice(office, SIGSTOP); });
  const TKD735FileContent m{RecordBuilder::Measurement().record};
  const TKD735FileContent* files[] = {&m, &m};
  feedback_.messages.clear();
  EXPECT_FALSE(report_->SendAllFiles(BlockKind::Measure, files, settings_));
  ExpectBlockError(u"LibreOffice Writer не ответил за 2 с."_s);
  EXPECT_EQ(report_->MeasureBlockCount(), 1) << "the second file is not sent";
  word_->before = [](const std::string&) {};
  testing::SignalOffice(office, SIGCONT);
  EXPECT_EQ(testing::RunPeer(Pipe(), u"updates"_s), "held")
      << "the ended helper left the document's screen updates held back";
  ASSERT_TRUE(Create());
  EXPECT_EQ(testing::RunPeer(Pipe(), u"updates"_s).find("held"), std::string::npos)
      << "the next connection gave them back";
  ASSERT_TRUE(Send());

  Before("Quit", 1, [&] { testing::SignalOffice(office, SIGSTOP); });
  feedback_.messages.clear();
  EXPECT_FALSE(report_->CloseWordDocuments());
  ASSERT_EQ(feedback_.messages.size(), 1u);
  EXPECT_TRUE(feedback_.messages[0].text.startsWith(u"LibreOffice Writer не ответил за 2 с."_s))
      << feedback_.messages[0].text.toStdString();
  word_->before = [](const std::string&) {};
  // The user answers: Writer ends, as it was told, and is started anew by the next document.
  testing::SignalOffice(office, SIGCONT);
  for (int i = 0; i < 1000 && writer_->officeProcessId() == office; ++i) QThread::msleep(10);
  ASSERT_TRUE(Create()) << (feedback_.messages.empty() ? std::string()
                                                       : feedback_.messages[0].text.toStdString());
  EXPECT_TRUE(Send());
}

// Writer missing or broken: the reason shows, in time, in the boxes of "create document".
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
  std::vector<ReportMessage> CreateWith(const WriterWordOptions& options) {
    PictureClipboard clipboard;
    WriterWord writer(clipboard, options);
    AutomationPort port(writer, clipboard);
    RecordingFeedback feedback;
    WordReport report(port, clipboard, feedback);
    ReportSettings settings;
    EXPECT_FALSE(report.CreateWordDocument(kTemplate, settings, u"x"_s));
    EXPECT_EQ(report.ReportStatusText(), u"ОШИБКА открытия Word."_s);
    return feedback.messages;
  }
  QTemporaryDir dir_;
};

TEST_F(WriterMissing, TheReasonComesInTheBoxesOfCreateDocument) {
  WriterWordOptions options = testing::PrivateOffice(dir_.filePath(u"profile"_s), "missing");
  options.helper = dir_.filePath(u"kd735_writer"_s);
  const WordBackendOptions backend{{}, options};
  EXPECT_FALSE(CheckWordBackend(WordBackend::kWriter, backend).available);
  EXPECT_TRUE(CheckWordBackend(WordBackend::kWriter, backend).reason.contains(u"kd735_writer"_s));
  EXPECT_EQ(DefaultWordBackend(backend), WordBackend::kDocx);
  auto messages = CreateWith(options);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[0].text.contains(u"kd735_writer"_s)) << messages[0].text.toStdString();
  EXPECT_EQ(messages[1],
            (ReportMessage{MessageBoxKind::Error,
                           u"ОШИБКА открытия Word.\rВозможно MS Word не установлен"_s}));

  KD735_SKIP_WITHOUT_WRITER();
  options.helper.clear();
  options.soffice = dir_.filePath(u"soffice"_s);  // no such program
  EXPECT_TRUE(CheckWordBackend(WordBackend::kWriter, {{}, options})
                  .reason.contains(u"LibreOffice Writer не установлен"_s));
  messages = CreateWith(options);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, u"LibreOffice Writer не установлен: не найдена программа soffice."_s);

  options.soffice = Script("failing", "exit 3");
  messages = CreateWith(options);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, u"LibreOffice Writer завершился при запуске (код 3)."_s);

  // One that never answers is ended at the time limit.
  options.soffice = Script("silent", "echo $$ > \"$0.pid\"; exec sleep 60");
  options.startTimeoutMs = 1500;
  messages = CreateWith(options);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, u"LibreOffice Writer не ответил за 2 с после запуска."_s);
  QFile pidFile(options.soffice + u".pid"_s);
  ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
  const pid_t pid = pidFile.readAll().trimmed().toInt();
  ASSERT_GT(pid, 0);
  EXPECT_NE(kill(pid, 0), 0) << "it was ended";
}

}  // namespace
}  // namespace kd735
