// The Writer engine on a machine several people use, and its end: documents nobody could see are
// kept as files, a private LibreOffice never outlives the program (also when it is killed), only
// a socket of the user's own is ever connected to, and Writer is offered only where it can show
// its window. Each test has a private headless LibreOffice of its own.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string_view>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "files/picture.h"
#include "report/writer_engine.h"
#include "report/writer_pipe.h"
#include "tests/common/other_user.h"
#include "tests/files/record_builder.h"
#include "tests/report/docx_reader.h"
#include "tests/report/writer_support.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::DocxReader;
using testing::RecordBuilder;

const QString kTemplate = QStringLiteral(KD735_TEMPLATE_DOCX);

// Waits (bounded) until the process group is gone.
bool GroupEnds(qint64 group, int ms = 20000) {
  for (int waited = 0; waited < ms && testing::GroupAlive(group); waited += 50) QThread::msleep(50);
  return !testing::GroupAlive(group);
}

QString SocketOf(const WriterEngineOptions& options) {
  return QString::fromStdString(writer_pipe::SocketPath(options.pipeName.toStdString(), getuid()));
}

class WriterLifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    KD735_SKIP_WITHOUT_WRITER();
    ASSERT_TRUE(dir_.isValid());
    options_ = testing::PrivateOffice(dir_.filePath(u"profile"_s), "life");
  }
  void TearDown() override {
    engine_.reset();
    QFile::remove(SocketOf(options_));  // whatever a test left at the pipe's path
  }

  PortStatus Create(WriterEngine& engine) {
    PortStatus s = engine.Begin();
    QString name;
    if (s) s = engine.CreateDocument(kTemplate, &name);
    engine.End();
    return s;
  }
  PortStatus Send(WriterEngine& engine, int number) {
    DataBlock block;
    block.number = number;
    block.picture = RenderPicture(RecordBuilder::Measurement().record, true);
    block.lines = {u"ИЗМЕРЕНИЕ"_s};
    BlockOutcome outcome;
    PortStatus s = engine.Begin();
    if (s) s = engine.AppendBlock(block, &outcome);
    engine.End();
    return s;
  }
  QString Reports() const { return options_.reportsFolder; }
  // Numbers of the blocks in a kept report.
  static std::vector<QString> Numbers(const QString& file) {
    DocxReader r(file);
    std::vector<QString> out;
    if (!r.ok() || r.tables().empty()) return out;
    const auto rows = DocxReader::rows(r.tables()[0]);
    for (std::size_t i = 1; i < rows.size(); ++i)
      out.push_back(DocxReader::text(DocxReader::cells(rows[i])[0]));
    return out;
  }

  QTemporaryDir dir_;
  WriterEngineOptions options_;
  std::unique_ptr<WriterEngine> engine_;
};

// "Close all" on a LibreOffice nobody sees: every document the user has not stored since its
// last change is kept as a .docx in the reports folder, under a name no file there has.
TEST_F(WriterLifecycle, CloseKeepsWhatNobodyCouldSee) {
  engine_ = std::make_unique<WriterEngine>(options_);
  ASSERT_TRUE(Create(*engine_));
  ASSERT_TRUE(Send(*engine_, 1));
  ASSERT_TRUE(engine_->Begin());
  ASSERT_TRUE(engine_->StoreCopy(dir_.filePath(u"stored.docx"_s)));  // the user kept this one
  engine_->End();
  ASSERT_TRUE(Create(*engine_));
  ASSERT_TRUE(Send(*engine_, 2));
  ASSERT_TRUE(QDir().mkpath(Reports()));
  const QString taken = QDir(Reports()).filePath(u"Sample_KD735_1.docx"_s);
  {
    QFile f(taken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("precious");
  }

  ASSERT_TRUE(engine_->Begin());
  CloseOutcome closed;
  const PortStatus s = engine_->CloseDocuments(&closed);
  engine_->End();
  ASSERT_TRUE(s) << s.text().toStdString();
  EXPECT_EQ(closed.documents, 2);
  ASSERT_EQ(closed.keptFiles, QStringList{QDir(Reports()).filePath(u"Sample_KD735_2.docx"_s)});
  EXPECT_EQ(Numbers(closed.keptFiles[0]), std::vector<QString>{u"2"_s});
  QFile f(taken);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), "precious") << "an existing file is never replaced";

  ASSERT_TRUE(engine_->Begin());
  ASSERT_TRUE(engine_->CloseDocuments(&closed));
  engine_->End();
  EXPECT_EQ(closed.documents, 0);
  EXPECT_TRUE(closed.keptFiles.isEmpty());
}

// The engine's end keeps what nobody could see and ends the private LibreOffice, with an explicit
// Shutdown (which names the files) or without.
TEST_F(WriterLifecycle, TheEndKeepsTheDocumentsAndEndsThePrivateOffice) {
  for (const bool explicitly : {true, false}) {
    SCOPED_TRACE(explicitly ? "Shutdown" : "destructor");
    QDir(Reports()).removeRecursively();
    engine_ = std::make_unique<WriterEngine>(options_);
    ASSERT_TRUE(Create(*engine_));
    ASSERT_TRUE(Send(*engine_, 5));
    const qint64 office = engine_->officeProcessId();
    ASSERT_TRUE(testing::GroupAlive(office));
    if (explicitly) {
      CloseOutcome kept;
      const PortStatus s = engine_->Shutdown(&kept);
      ASSERT_TRUE(s) << s.text().toStdString();
      ASSERT_EQ(kept.keptFiles.size(), 1);
      EXPECT_EQ(Numbers(kept.keptFiles[0]), std::vector<QString>{u"5"_s});
      EXPECT_TRUE(engine_->Shutdown()) << "once is enough";
    }
    engine_.reset();
    EXPECT_TRUE(GroupEnds(office));
    const QStringList files = QDir(Reports()).entryList({u"*.docx"_s}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(Numbers(QDir(Reports()).filePath(files[0])), std::vector<QString>{u"5"_s});
  }
}

// A program killed outright takes its private LibreOffice with it.
TEST_F(WriterLifecycle, AKilledProgramLeavesNoLibreOfficeBehind) {
  QProcess holder;
  holder.start(QStringLiteral(KD735_WRITER_HOLDER),
               {QStringLiteral(KD735_WRITER_HELPER), options_.profileDir, options_.pipeName});
  ASSERT_TRUE(holder.waitForReadyRead(60000)) << holder.readAllStandardError().toStdString();
  const qint64 office = holder.readLine().trimmed().toLongLong();
  ASSERT_GT(office, 0) << holder.readAllStandardError().toStdString();
  ASSERT_TRUE(testing::GroupAlive(office));
  holder.kill();  // SIGKILL: no destructor runs
  holder.waitForFinished();
  EXPECT_TRUE(GroupEnds(office)) << "LibreOffice outlived the program";
  if (testing::GroupAlive(office)) testing::SignalOffice(office, SIGKILL);
}

// What LibreOffice makes (its pipe first of all) is the user's alone, whatever the program's
// umask.
TEST_F(WriterLifecycle, ThePipeIsTheUsersAloneWhateverTheUmask) {
  const mode_t before = umask(0);
  engine_ = std::make_unique<WriterEngine>(options_);
  const PortStatus s = engine_->Begin();
  engine_->End();
  umask(before);
  ASSERT_TRUE(s) << s.text().toStdString();
  struct stat st {};
  ASSERT_EQ(lstat(QFile::encodeName(SocketOf(options_)).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;
}

// ---- another user at the pipe's path ----

// Runs a small program as user nobody; empty when that is impossible here.
class OtherUser {
 public:
  static QString Unavailable() {
    if (const QString why = testing::OtherUserUnavailable(); !why.isEmpty()) return why;
    if (!QFileInfo::exists(u"/usr/bin/python3"_s)) return u"python3 is missing"_s;
    return {};
  }
  // `mode`: "listen" keeps a socket at `path` open to everybody and counts who connects (until
  // its input closes); "dead" leaves a socket nobody listens on; "link" puts a symbolic link.
  bool Start(const QString& path, const char* mode) {
    static const char kScript[] = R"(
import os, select, socket, sys
path, mode = sys.argv[1], sys.argv[2]
if mode == "link":
    os.symlink("/tmp", path); print("ready", flush=True); sys.exit(0)
s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
s.bind(path)
os.chmod(path, 0o777)
if mode == "dead":
    s.close(); print("ready", flush=True); sys.exit(0)
s.listen(5)
print("ready", flush=True)
connected = 0
while True:
    r, _, _ = select.select([s, sys.stdin], [], [])
    if s in r:
        c, _ = s.accept(); connected += 1; c.close()
    if sys.stdin in r:
        sys.stdin.read(); break
print("connections", connected, flush=True)
)";
    process_.start(u"setpriv"_s,
                   testing::AsNobody() + QStringList{u"/usr/bin/python3"_s, u"-c"_s,
                                                     QString::fromLatin1(kScript), path,
                                                     QString::fromLatin1(mode)});
    return process_.waitForReadyRead(10000) && process_.readLine().trimmed() == "ready";
  }
  // The listener's count of connections, once its input is closed.
  QByteArray Connections() {
    process_.closeWriteChannel();
    process_.waitForFinished(10000);
    return process_.readAllStandardOutput().trimmed();
  }
  ~OtherUser() {
    process_.kill();
    process_.waitForFinished();
  }

 private:
  QProcess process_;
};

// Whoever owns LibreOffice's pipe path is checked before connecting: a socket (live or dead) or a
// link of another user is refused with its path and owner, and nothing reaches it.
TEST_F(WriterLifecycle, AnotherUsersSocketIsNeverConnectedTo) {
  if (const QString why = OtherUser::Unavailable(); !why.isEmpty())
    GTEST_SKIP() << why.toStdString();
  const QString path = SocketOf(options_);
  struct Case {
    const char* mode;
    QString says;
  } cases[] = {
      {"listen", u"принадлежит пользователю nobody (uid 65534)"_s},
      {"dead", u"принадлежит пользователю nobody (uid 65534)"_s},
      {"link", u"символьная ссылка (владелец nobody (uid 65534))"_s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    QFile::remove(path);
    OtherUser other;
    ASSERT_TRUE(other.Start(path, c.mode));
    WriterEngine engine(options_);
    const auto started = std::chrono::steady_clock::now();
    const PortStatus s = engine.Begin();
    engine.End();
    EXPECT_FALSE(s);
    EXPECT_TRUE(s.text().contains(path) && s.text().contains(c.says)) << s.text().toStdString();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10))
        << "refused at once, not after a time limit";
    EXPECT_EQ(engine.officeProcessId(), 0) << "no LibreOffice is started for it";
    if (std::string_view(c.mode) == "listen") {
      EXPECT_EQ(other.Connections(), "connections 0");
    }
  }
  QFile::remove(path);

  // A dead socket of the user's own (a LibreOffice that crashed) is simply replaced.
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  std::memcpy(address.sun_path, name.constData(), static_cast<std::size_t>(name.size()));
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);
  WriterEngine engine(options_);
  const PortStatus s = engine.Begin();
  engine.End();
  EXPECT_TRUE(s) << s.text().toStdString();
}

// ---- whether Writer can show its window ----

TEST(WriterWindow, OfferedOnlyWithADesktopLibreOfficeAndAScreen) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QDir program(dir.filePath(u"program"_s));
  ASSERT_TRUE(program.mkpath(u"."_s));
  const QString soffice = program.filePath(u"soffice"_s);
  {
    QFile f(soffice);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  }
  auto environment = [](std::initializer_list<std::pair<const char*, const char*>> vars) {
    QProcessEnvironment e;
    for (const auto& [name, value] : vars) e.insert(QLatin1String(name), QLatin1String(value));
    return e;
  };
  struct Case {
    const char* what;
    bool plugin;
    QProcessEnvironment environment;
    QString reason;  // a part of it; empty: Writer can show its window
  } cases[] = {
      {"headless LibreOffice", false, environment({{"DISPLAY", ":0"}}), u"без окон"_s},
      {"X11", true, environment({{"DISPLAY", ":0"}}), {}},
      {"Wayland", true, environment({{"WAYLAND_DISPLAY", "wayland-0"}}), {}},
      {"no screen", true, environment({}), u"DISPLAY"_s},
      {"headless back end chosen", true,
       environment({{"DISPLAY", ":0"}, {"SAL_USE_VCLPLUGIN", "svp"}}), u"SAL_USE_VCLPLUGIN"_s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString plugin = program.filePath(u"libvclplug_genlo.so"_s);
    if (c.plugin) {
      QFile f(plugin);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    } else {
      QFile::remove(plugin);
    }
    const WriterWindowCheck check = WriterEngine::CheckWindow(soffice, c.environment);
    EXPECT_EQ(check.canShow, c.reason.isEmpty());
    EXPECT_TRUE(check.reason.contains(c.reason)) << check.reason.toStdString();
  }
  const WriterWindowCheck missing =
      WriterEngine::CheckWindow(dir.filePath(u"nothing"_s), environment({{"DISPLAY", ":0"}}));
  EXPECT_FALSE(missing.canShow);
  EXPECT_EQ(missing.reason, u"LibreOffice Writer не установлен: не найдена программа soffice."_s);
}

}  // namespace
}  // namespace kd735
