#include "report/writer_engine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files/atomic_file.h"
#include "report/block_picture.h"
#include "report/writer_pipe.h"

extern char** environ;

namespace kd735 {

namespace {

namespace wp = writer_protocol;
using Clock = std::chrono::steady_clock;
using Kind = PortStatus::Kind;

constexpr int kHelperEndMs = 2000;   // for the helper to end after its socket is closed
constexpr int kOfficeEndMs = 10000;  // for a private LibreOffice to end after it was told to
constexpr int kTerminateMs = 10000;  // for telling it
constexpr int kHandOverMs = 3000;    // for a running LibreOffice to open the pipe handed to it
constexpr char kHelperName[] = "kd735_writer";

QString NotConnected() { return QStringLiteral("Нет связи с LibreOffice Writer."); }
QString OutOfRange() { return QStringLiteral("Значение вне допустимого диапазона."); }
QString NoAnswer(int ms) {
  return QStringLiteral(
             "LibreOffice Writer не ответил за %1 с. Возможно, он ждет ответа в диалоговом окне "
             "или завис.")
      .arg((ms + 999) / 1000);
}
QString ConnectionLost() {
  return QStringLiteral("Связь с LibreOffice Writer потеряна: он закрыт или завершился.");
}
QString HelperLost() {
  return QStringLiteral(
             "Связь с LibreOffice Writer потеряна: модуль связи %1 неожиданно завершился.")
      .arg(QLatin1String(kHelperName));
}

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }
QString FromUtf8(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A child process in a process group of its own, started without a shell. The object reaps it
// once it has ended; it never ends a child on its own (Kill does).
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Running(); }

  // `in` and `out` become the child's standard input and output (-1: /dev/null); its standard
  // error is ours unless `quiet`. No other descriptor of ours is passed on. `environment`, when
  // given, replaces ours ("NAME=value" each). The child runs with the umask 077, so that what it
  // makes (LibreOffice's pipe, its files) is the user's alone.
  bool Start(const QString& program, const QStringList& args, int in, int out, bool quiet,
             QString* error, const QStringList& environment = {}) {
    // Everything the child needs is made here: after fork it may only make system calls.
    std::vector<std::string> env;
    for (const QString& e : environment) env.push_back(QFile::encodeName(e).toStdString());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> strings{QFile::encodeName(program).toStdString()};
    for (const QString& a : args) strings.push_back(a.toLocal8Bit().toStdString());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    char** const childEnv = environment.isEmpty() ? environ : envp.data();

    int report[2];  // the child's exec error, if any; closed by a successful exec
    if (pipe2(report, O_CLOEXEC) != 0) {
      *error = QString::fromLocal8Bit(std::strerror(errno));
      return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
      *error = QString::fromLocal8Bit(std::strerror(errno));
      close(report[0]);
      close(report[1]);
      return false;
    }
    if (pid == 0) {
      // Its own process group: a Ctrl+C meant for the program does not reach it, and the whole
      // group (soffice starts soffice.bin under it) can be ended at once.
      setpgid(0, 0);
      struct sigaction standard {};
      standard.sa_handler = SIG_DFL;
      for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(sig, &standard, nullptr);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      const int null = open("/dev/null", O_RDWR);
      dup2(in >= 0 ? in : null, 0);
      dup2(out >= 0 ? out : null, 1);
      if (quiet) dup2(null, 2);
      if (report[1] != 3) {
        dup2(report[1], 3);
        fcntl(3, F_SETFD, FD_CLOEXEC);
      }
      syscall(SYS_close_range, 4u, ~0u, 0u);
      umask(077);
      execve(argv[0], argv.data(), childEnv);
      const int e = errno;
      if (write(3, &e, sizeof e) < 0) {
      }
      _exit(127);
    }
    close(report[1]);
    int childErrno = 0;
    ssize_t n;
    do {
      n = read(report[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    pid_ = pid;
    exitCode_ = -1;
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
      Wait();
      *error = QString::fromLocal8Bit(std::strerror(childErrno));
      return false;
    }
    return true;
  }

  // Reaps the child when it has ended.
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    if (r == pid_) exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = 0;
    return false;
  }
  pid_t pid() const { return pid_; }
  int exitCode() const { return exitCode_; }

  bool WaitForEnd(int ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Running()) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  // Ends the child's whole process group.
  void Kill() {
    if (!Running()) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    Wait();
  }

 private:
  void Wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    exitCode_ = -1;
  }

  pid_t pid_ = 0;
  int exitCode_ = -1;
};

enum class Io { kOk, kTimeout, kClosed };

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

Io WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, RemainingMs(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Io::kClosed;
    if (r == 0) return Io::kTimeout;
    if (p.revents & events) return Io::kOk;
    return Io::kClosed;  // hang-up or error without data
  }
}

Io SendAll(int fd, const std::string& data, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < data.size()) {
    if (Io w = WaitFor(fd, POLLOUT, deadline); w != Io::kOk) return w;
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Io::kClosed;
    done += static_cast<std::size_t>(n);
  }
  return Io::kOk;
}

Io ReceiveAll(int fd, char* data, std::size_t size, Clock::time_point deadline) {
  while (size > 0) {
    if (Io w = WaitFor(fd, POLLIN, deadline); w != Io::kOk) return w;
    const ssize_t n = read(fd, data, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Io::kClosed;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Io::kOk;
}

QString ProgramFolder() {
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

bool IsProgram(const QString& path) {
  const QFileInfo f(path);
  return f.isFile() && f.isExecutable();
}

// The store filter of a file name's extension.
QString FilterFor(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toLower();
  if (ext == QLatin1String("docx")) return QStringLiteral("MS Word 2007 XML");
  if (ext == QLatin1String("pdf")) return QStringLiteral("writer_pdf_Export");
  if (ext == QLatin1String("odt")) return QStringLiteral("writer8");
  if (ext == QLatin1String("doc")) return QStringLiteral("MS Word 97");
  return {};
}

// A file name made of a document's name: what a file system or a shell would trip over is
// replaced.
QString SafeFileName(const QString& name) {
  QString out;
  for (const QChar c : name.left(100)) {
    const bool ok = c.isLetterOrNumber() || c == u' ' || c == u'_' || c == u'-' || c == u'.' ||
                    c == u'(' || c == u')';
    out += ok ? c : QChar(u'_');
  }
  while (out.startsWith(u'.')) out.remove(0, 1);
  out = out.trimmed();
  return out.isEmpty() ? QStringLiteral("Отчет") : out;
}

}  // namespace

class WriterEngine::Impl {
 public:
  explicit Impl(WriterEngineOptions options) : options_(std::move(options)) {
    pipe_ = options_.pipeName;
    if (pipe_.isEmpty()) {
      pipe_ = QStringLiteral("kd735_writer_%1").arg(getuid());
      if (!options_.profileDir.isEmpty())
        pipe_ += QStringLiteral("_%1_%2").arg(getpid()).arg(QRandomGenerator::global()->generate(),
                                                            8, 16, QLatin1Char('0'));
    }
    if (options_.reportsFolder.isEmpty()) options_.reportsFolder = DefaultReportsFolder();
  }

  ~Impl() {
    const bool told = officeOwned_ && office_.Running() && HelperRunning() &&
                      Call(wp::Terminate{}, kTerminateMs).ok();
    StopHelper();
    if (officeOwned_ && !(told && office_.WaitForEnd(kOfficeEndMs))) KillOffice();
    CloseLifeline();
  }

  const WriterEngineOptions& options() const { return options_; }
  std::uint64_t messages() const { return messages_; }

  qint64 officeProcessId() { return office_.Running() ? officePid_ : 0; }

  bool ShowsDocuments() {
    if (!windowsKnown_) {
      windows_ = !options_.headless && CheckWindow(options_.soffice).canShow;
      windowsKnown_ = true;
    }
    return windows_;
  }

  // ---- one action ----

  PortStatus Begin() {
    if (depth_ > 0) {
      ++depth_;
      return {};
    }
    // Attaching begins the action: one message.
    if (auto s = Ensure(); !s) return s;
    depth_ = 1;
    return {};
  }

  PortStatus End() {
    if (depth_ == 0) return {};
    if (--depth_ > 0) return {};
    // The action's work is shown in full. Without the helper there is nothing left to show:
    // the failure that ended it was reported by its call.
    if (!HelperRunning()) return {};
    return Call(wp::EndAction{}, options_.loadTimeoutMs);
  }

  // A call of the port: it needs a Begin.
  template <class Request>
  PortStatus Op(const Request& request, int timeoutMs, typename Request::Result* result = nullptr) {
    if (depth_ <= 0) return PortStatus::Error(NotConnected());
    return Call(request, timeoutMs, result);
  }

  // One message to the helper and its reply, within the time limit.
  template <class Request>
  PortStatus Call(const Request& request, int timeoutMs,
                  typename Request::Result* result = nullptr) {
    if (!HelperRunning()) {
      // Found ended before the message went: within an action it died as surely as one that
      // breaks off its reply, and says so the same way.
      const bool died = socket_ >= 0;
      StopHelper(/*wait=*/false);
      depth_ = 0;
      return PortStatus::Error(died ? HelperLost() : NotConnected(), Kind::kConnectionLost);
    }
    ++messages_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Io io = SendAll(socket_, wp::Framed(wp::EncodeRequest(request)), deadline);
    char prefix[4];
    if (io == Io::kOk) io = ReceiveAll(socket_, prefix, sizeof prefix, deadline);
    std::string payload;
    if (io == Io::kOk) {
      const std::uint32_t length = wp::MessageLength(prefix);
      if (length == 0 || length > wp::kMaxMessage) {
        io = Io::kClosed;
      } else {
        payload.resize(length);
        io = ReceiveAll(socket_, payload.data(), length, deadline);
      }
    }
    std::optional<wp::Reply<typename Request::Result>> reply;
    if (io == Io::kOk) reply = wp::DecodeReply<typename Request::Result>(payload);
    if (!reply) {
      // A helper that does not answer is waiting for LibreOffice: it is ended, and the next
      // action starts a new one. One that answers nonsense is not trusted further.
      StopHelper(/*wait=*/false);
      depth_ = 0;
      if (io == Io::kTimeout) return PortStatus::Error(NoAnswer(timeoutMs));
      return PortStatus::Error(HelperLost(), Kind::kConnectionLost);
    }
    if (result) *result = reply->result;
    if (reply->status == wp::Status::kOk) return {};
    const wp::Failure& f = reply->failure;
    // What LibreOffice's bridge says when it goes away means nothing to the user.
    if (f.flags & wp::kConnectionLost)
      return PortStatus::Error(ConnectionLost(), Kind::kConnectionLost);
    QString text = FromUtf8(f.text);
    if (text.isEmpty()) text = QStringLiteral("Ошибка LibreOffice Writer.");
    if ((f.flags & wp::kDocumentClosed) && !text.contains(QStringLiteral("закрыт")))
      text += QStringLiteral("\rДокумент закрыт в LibreOffice Writer.");
    return PortStatus::Error(text);
  }

  // After a Quit: a LibreOffice started here is given the time to end, so that the next start
  // does not find it still ending.
  void AwaitOfficeEnd() {
    if (office_.WaitForEnd(kOfficeEndMs)) CloseLifeline();
  }

  // ---- documents nobody could see ----

  // Stores the documents the user could not have seen (all of the instance's when `all`) into
  // the reports folder, then closes them. On a failure to store, nothing is closed.
  PortStatus KeepAndClose(bool all, CloseOutcome* outcome) {
    QTemporaryDir folder;
    if (!folder.isValid())
      return PortStatus::Error(
          QStringLiteral("Не удается создать временную папку: %1").arg(folder.errorString()));
    wp::CloseDocuments store;
    store.mode = static_cast<std::uint8_t>(wp::CloseMode::kStore);
    store.folder = Utf8(folder.path());
    store.all = all;
    wp::CloseDocuments::Result stored;
    if (auto s = Call(store, options_.quitTimeoutMs, &stored); !s) return s;
    outcome->documents = stored.documents;
    for (const auto& [file, name] : stored.stored) {
      // Only files the helper was asked to make, in the folder made for them.
      const QString source = FromUtf8(file);
      if (QFileInfo(source).absolutePath() != QFileInfo(folder.path()).absoluteFilePath())
        return PortStatus::Error(HelperLost(), Kind::kConnectionLost);
      QString kept;
      if (auto s = Keep(source, FromUtf8(name), &kept); !s) return s;
      outcome->keptFiles << kept;
    }
    wp::CloseDocuments close;
    close.mode = static_cast<std::uint8_t>(wp::CloseMode::kClose);
    close.all = all;
    return Call(close, options_.quitTimeoutMs);
  }

  // A stored document moved into the reports folder under a name no file there has.
  PortStatus Keep(const QString& source, const QString& name, QString* kept) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
      return PortStatus::Error(
          QStringLiteral("Не удается прочитать сохраненный документ: %1").arg(in.errorString()));
    const QByteArray bytes = in.readAll();
    const QDir folder(options_.reportsFolder);
    if (!QDir().mkpath(folder.path()))
      return PortStatus::Error(QStringLiteral("Не удается создать папку отчетов %1.")
                                   .arg(QDir::toNativeSeparators(folder.path())));
    const QString base = SafeFileName(name);
    for (int n = 1; n < 100000; ++n) {
      const QString path = folder.filePath(QStringLiteral("%1_%2.docx").arg(base).arg(n));
      // The name is taken first, so that no file of that name, made meanwhile, is replaced.
      const int fd =
          open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno == EEXIST) continue;
      if (fd < 0)
        return PortStatus::Error(
            QStringLiteral("Не удается сохранить документ %1: %2")
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno))));
      close(fd);
      const FileWriteResult written = WriteFileAtomically(path, bytes);
      if (!written) {
        QFile::remove(path);
        return PortStatus::Error(
            QStringLiteral("Не удается сохранить документ %1").arg(written.message()));
      }
      *kept = path;
      return {};
    }
    return PortStatus::Error(QStringLiteral("Не удается сохранить документ в папке %1.")
                                 .arg(QDir::toNativeSeparators(folder.path())));
  }

  PortStatus Shutdown(CloseOutcome* outcome) {
    if (shutDown_) return {};
    office_.Running();
    const bool owned = officeOwned_ && office_.Running();
    // What nobody could see is stored first; a Writer on the user's screen keeps its documents,
    // as Word does. Nothing is started for it: without a LibreOffice nothing is left.
    if (owned || (HelperRunning() && !ShowsDocuments())) {
      depth_ = 0;
      bool attached = false;
      if (auto s = Ensure(/*start=*/false, &attached); !s && !s.connectionLost() && owned) return s;
      if (attached) {
        const PortStatus kept = KeepAndClose(owned, outcome);
        if (HelperRunning()) Call(wp::EndAction{}, options_.loadTimeoutMs);
        if (!kept && !kept.connectionLost()) return kept;
      }
    }
    shutDown_ = true;
    if (owned) {
      const bool told = HelperRunning() && Call(wp::Terminate{}, kTerminateMs).ok();
      if (!(told && office_.WaitForEnd(kOfficeEndMs))) KillOffice();
      CloseLifeline();
    }
    StopHelper();
    return {};
  }

  // ---- the helper and LibreOffice ----

  bool HelperRunning() { return socket_ >= 0 && helper_.Running(); }

  PortStatus StartHelper() {
    StopHelper(false);
    const QString path = FindHelper(options_.helper);
    if (path.isEmpty())
      return PortStatus::Error(
          QStringLiteral("Не найден модуль связи с LibreOffice Writer (%1). Переустановите "
                         "программу или выберите формирование отчета в файлы .docx.")
              .arg(QLatin1String(kHelperName)));
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
      return PortStatus::Error(QStringLiteral("Не удается создать канал связи с LibreOffice "
                                              "Writer: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(errno))));
    QString error;
    const bool started =
        helper_.Start(path, {}, fds[1], fds[1], false, &error, HelperEnvironment());
    close(fds[1]);
    if (!started) {
      close(fds[0]);
      return PortStatus::Error(
          QStringLiteral("Не удается запустить %1: %2").arg(QDir::toNativeSeparators(path), error));
    }
    socket_ = fds[0];
    return {};
  }

  void StopHelper(bool wait = true) {
    if (socket_ >= 0) {
      close(socket_);  // the helper sees the end of its input and ends
      socket_ = -1;
    }
    if (!(wait && helper_.WaitForEnd(kHelperEndMs))) helper_.Kill();
  }

  PortStatus Attach(wp::AttachState* state) {
    wp::Attach::Result r;
    if (auto s = Call(wp::Attach{Utf8(pipe_)}, options_.callTimeoutMs, &r); !s) return s;
    *state = static_cast<wp::AttachState>(r.state);
    return {};
  }

  // Attaches to the LibreOffice on the pipe, starting one when nobody listens there (unless not
  // `start`: then `attached` says whether one does).
  PortStatus Ensure(bool start = true, bool* attached = nullptr) {
    office_.Running();  // reaps one that has ended
    if (!HelperRunning()) {
      if (auto s = StartHelper(); !s) return s;
    }
    wp::AttachState state = wp::AttachState::kNobody;
    if (auto s = Attach(&state); !s) return s;
    if (attached) *attached = state == wp::AttachState::kAttached;
    if (state == wp::AttachState::kAttached) return {};
    // One that is ending (the user quit it a moment ago) is given the time to end first.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kOfficeEndMs);
    while (state == wp::AttachState::kEnding && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      office_.Running();
      if (auto s = Attach(&state); !s) return s;
    }
    if (attached) *attached = state == wp::AttachState::kAttached;
    if (state == wp::AttachState::kAttached || !start) return {};
    return StartOffice();
  }

  // Starts LibreOffice. One of the engine's own (a private profile, or headless) runs under a
  // guard, a helper process that ends it as soon as the program is gone, also when the program
  // is killed; the user's own is started as a program of theirs and stays.
  bool LaunchOffice(const QString& soffice, const QStringList& args, QString* error) {
    CloseLifeline();
    officePid_ = 0;
    if (!guarded_) {
      if (!office_.Start(soffice, args, -1, -1, true, error)) return false;
      officePid_ = office_.pid();
      return true;
    }
    const QString helper = FindHelper(options_.helper);
    if (helper.isEmpty()) {
      *error = QStringLiteral("не найден %1").arg(QLatin1String(kHelperName));
      return false;
    }
    int lifeline[2], pid[2];
    if (pipe2(lifeline, O_CLOEXEC) != 0) {
      *error = QString::fromLocal8Bit(std::strerror(errno));
      return false;
    }
    if (pipe2(pid, O_CLOEXEC) != 0) {
      *error = QString::fromLocal8Bit(std::strerror(errno));
      close(lifeline[0]);
      close(lifeline[1]);
      return false;
    }
    const QString socket = QString::fromStdString(writer_pipe::SocketPath(Utf8(pipe_), getuid()));
    const bool started =
        office_.Start(helper, QStringList{QStringLiteral("--guard"), socket, soffice} + args,
                      lifeline[0], pid[1], true, error, HelperEnvironment());
    close(lifeline[0]);
    close(pid[1]);
    if (!started) {
      close(lifeline[1]);
      close(pid[0]);
      return false;
    }
    lifeline_ = lifeline[1];
    // The guard names LibreOffice's process first thing.
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    char c = 0;
    while (line.size() < 16 && ReceiveAll(pid[0], &c, 1, deadline) == Io::kOk && c != '\n')
      line.push_back(c);
    close(pid[0]);
    officePid_ = static_cast<pid_t>(std::atoi(line.c_str()));
    if (officePid_ <= 0) {
      *error = QStringLiteral("%1 не назвал процесс LibreOffice").arg(QLatin1String(kHelperName));
      KillOffice();
      return false;
    }
    return true;
  }

  // Ends the LibreOffice started here, whatever state it is in.
  void KillOffice() {
    if (office_.Running() && officePid_ > 0) {
      kill(-officePid_, SIGKILL);
      kill(officePid_, SIGKILL);
    }
    CloseLifeline();  // a guard then ends as well
    if (!office_.WaitForEnd(kOfficeEndMs)) office_.Kill();
  }

  void CloseLifeline() {
    if (lifeline_ >= 0) close(lifeline_);
    lifeline_ = -1;
  }

  PortStatus StartOffice() {
    const QString soffice = FindSoffice(options_.soffice);
    if (soffice.isEmpty())
      return PortStatus::Error(
          QStringLiteral("LibreOffice Writer не установлен: не найдена программа soffice."));
    QStringList args{QStringLiteral("--norestore"), QStringLiteral("--nologo"),
                     QStringLiteral("--nodefault")};
    if (options_.headless) args << QStringLiteral("--headless") << QStringLiteral("--invisible");
    if (!options_.profileDir.isEmpty())
      args << QStringLiteral("--nolockcheck")
           << QStringLiteral("-env:UserInstallation=") +
                  QUrl::fromLocalFile(QFileInfo(options_.profileDir).absoluteFilePath())
                      .toString(QUrl::FullyEncoded);
    args << QStringLiteral("--accept=pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipe_);
    QString error;
    // One of ours that takes no connections is ending or never answered.
    if (office_.Running() && !office_.WaitForEnd(kOfficeEndMs)) KillOffice();
    guarded_ = !options_.profileDir.isEmpty() || options_.headless;
    if (!LaunchOffice(soffice, args, &error))
      return PortStatus::Error(QStringLiteral("Не удается запустить LibreOffice Writer (%1): %2")
                                   .arg(QDir::toNativeSeparators(soffice), error));
    officeOwned_ = guarded_;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    auto handedOver = Clock::time_point::max();
    for (int delayMs = 50;; delayMs = std::min(delayMs * 2, 200)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      const bool wasRunning = office_.pid() > 0;
      if (wasRunning && !office_.Running()) {
        // soffice ends at once with 0 when it handed its task to a LibreOffice already running
        // for this profile; that one then opens the pipe.
        CloseLifeline();
        if (office_.exitCode() != 0)
          return PortStatus::Error(
              QStringLiteral("LibreOffice Writer завершился при запуске (код %1).")
                  .arg(office_.exitCode()));
        officeOwned_ = false;
        handedOver = Clock::now();
      }
      wp::AttachState state = wp::AttachState::kNobody;
      if (auto s = Attach(&state); !s) {
        if (officeOwned_) KillOffice();
        return s;
      }
      if (state == wp::AttachState::kAttached) return {};
      if (Clock::now() - handedOver > std::chrono::milliseconds(kHandOverMs)) {
        // The LibreOffice it was handed to was ending: start one anew.
        handedOver = Clock::time_point::max();
        if (!LaunchOffice(soffice, args, &error))
          return PortStatus::Error(
              QStringLiteral("Не удается запустить LibreOffice Writer (%1): %2")
                  .arg(QDir::toNativeSeparators(soffice), error));
        officeOwned_ = guarded_;
      }
      if (Clock::now() >= deadline) {
        KillOffice();
        return PortStatus::Error(
            QStringLiteral("LibreOffice Writer не ответил за %1 с после запуска.")
                .arg((options_.startTimeoutMs + 999) / 1000));
      }
    }
  }

  WriterEngineOptions options_;
  QString pipe_;
  int depth_ = 0;  // nesting of Begin
  std::uint64_t messages_ = 0;
  bool windowsKnown_ = false;
  bool windows_ = false;  // documents are shown on the user's screen
  bool shutDown_ = false;
  Child helper_;
  int socket_ = -1;  // our end of the helper's socket
  Child office_;     // the LibreOffice started here, or its guard
  pid_t officePid_ = 0;
  int lifeline_ = -1;         // held while a guarded LibreOffice runs; its end ends it
  bool guarded_ = false;      // the LibreOffice started last runs under a guard
  bool officeOwned_ = false;  // a LibreOffice of the engine's own, ended with it
  BlockPictureEncoder pictures_;
};

WriterEngine::WriterEngine(WriterEngineOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

WriterEngine::~WriterEngine() {
  CloseOutcome kept;
  const PortStatus s = impl_->Shutdown(&kept);
  if (!s) qWarning("%s", qUtf8Printable(s.text()));
}

QStringList WriterEngine::HelperEnvironment() {
#ifdef KD735_LO_PROGRAM_DIR
  const QString folder = QStringLiteral(KD735_LO_PROGRAM_DIR);
#else
  const QString folder = QStringLiteral("/usr/lib/libreoffice/program");
#endif
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  const QString before = env.value(QStringLiteral("LD_LIBRARY_PATH"));
  env.insert(QStringLiteral("LD_LIBRARY_PATH"),
             before.isEmpty() ? folder : folder + QLatin1Char(':') + before);
  return env.toStringList();
}

QString WriterEngine::FindHelper(const QString& configured) {
  if (!configured.isEmpty()) return IsProgram(configured) ? configured : QString();
  // Only beside the program or in its installed layout: never a path fixed at build time, which
  // may not exist where the program runs and which somebody else could then create.
  const QString folder = ProgramFolder();
  const QStringList candidates{
      folder + u'/' + QLatin1String(kHelperName),
      folder + QStringLiteral("/../lib/kd735/") + QLatin1String(kHelperName)};
  for (const QString& c : candidates)
    if (IsProgram(c)) return QDir::cleanPath(QFileInfo(c).absoluteFilePath());
  return {};
}

QString WriterEngine::FindSoffice(const QString& configured) {
  if (!configured.isEmpty()) {
    if (IsProgram(configured)) return configured;
    return QStandardPaths::findExecutable(configured);
  }
  return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

WriterWindowCheck WriterEngine::CheckWindow(const QString& soffice,
                                            const QProcessEnvironment& environment) {
  const QString program = FindSoffice(soffice);
  if (program.isEmpty())
    return {false,
            QStringLiteral("LibreOffice Writer не установлен: не найдена программа soffice.")};
  // The display back ends are plug-ins beside soffice.bin (gen for X11, gtk3, kf5, qt5, ...);
  // the headless one is built in. Without a plug-in Writer never opens a window.
  const QDir folder = QFileInfo(QFileInfo(program).canonicalFilePath()).dir();
  if (folder.entryList({QStringLiteral("libvclplug_*")}, QDir::Files).isEmpty())
    return {false, QStringLiteral("Установлен LibreOffice без окон (для работы в фоне): документ "
                                  "в Writer не был бы виден. Для отчета в окне Writer нужен "
                                  "пакет libreoffice-writer.")};
  if (environment.value(QStringLiteral("SAL_USE_VCLPLUGIN")) == QLatin1String("svp"))
    return {false, QStringLiteral("LibreOffice настроен работать без окон "
                                  "(SAL_USE_VCLPLUGIN=svp): документ в Writer не был бы виден.")};
  if (environment.value(QStringLiteral("DISPLAY")).isEmpty() &&
      environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
    return {false, QStringLiteral("Нет экрана для окна LibreOffice Writer (не заданы DISPLAY и "
                                  "WAYLAND_DISPLAY): документ в Writer не был бы виден.")};
  return {true, {}};
}

qint64 WriterEngine::officeProcessId() const { return impl_->officeProcessId(); }
std::uint64_t WriterEngine::helperMessages() const { return impl_->messages(); }

PortStatus WriterEngine::Shutdown(CloseOutcome* outcome) {
  CloseOutcome ignored;
  return impl_->Shutdown(outcome ? outcome : &ignored);
}

PortStatus WriterEngine::Begin() { return impl_->Begin(); }
PortStatus WriterEngine::End() { return impl_->End(); }

PortStatus WriterEngine::CreateDocument(const QString& templatePath, QString* name) {
  wp::CreateDocument request;
  request.templatePath = Utf8(QFileInfo(templatePath).absoluteFilePath());
  request.hidden = impl_->options().headless;
  wp::CreateDocument::Result result;
  if (auto s = impl_->Op(request, impl_->options().loadTimeoutMs, &result); !s) return s;
  if (name) *name = FromUtf8(result.name);
  return {};
}

PortStatus WriterEngine::FillVariables(const std::vector<DocumentVariable>& variables) {
  wp::FillVariables request;
  for (const DocumentVariable& v : variables)
    request.variables.emplace_back(Utf8(v.name), Utf8(v.value));
  return impl_->Op(request, impl_->options().callTimeoutMs);
}

namespace {

PortStatus FontOf(const BlockFont& font, wp::Font* out) {
  if (!(font.size >= kMinFontPoints && font.size <= kMaxFontPoints))
    return PortStatus::Error(OutOfRange());
  out->name = Utf8(font.name);
  out->centipoints = static_cast<std::int32_t>(std::lround(font.size * 100.0));
  out->bold = font.bold;
  out->italic = font.italic;
  return {};
}

}  // namespace

PortStatus WriterEngine::AppendBlock(const DataBlock& block, BlockOutcome* outcome) {
  BlockOutcome done;
  if (outcome) *outcome = done;
  wp::AppendBlock request;
  if (auto s = FontOf(block.font, &request.font); !s) return s;
  const QByteArray png = impl_->pictures_.Png(block.picture);
  if (png.isEmpty())
    return PortStatus::Error(QStringLiteral("Не удается записать рисунок в формате PNG."));
  request.table = block.tablePosition;
  request.number = block.number;
  request.png.assign(png.constData(), static_cast<std::size_t>(png.size()));
  request.width = block.picture.width();
  request.height = block.picture.height();
  for (const QString& line : block.lines) request.lines.push_back(Utf8(line));
  wp::AppendBlock::Result result;
  const PortStatus s = impl_->Op(request, impl_->options().callTimeoutMs, &result);
  done.noDocument = result.noDocument;
  done.reached = static_cast<BlockStage>(
      std::min<std::uint8_t>(result.stage, static_cast<std::uint8_t>(wp::Stage::kComplete)));
  if (s && done.reached == BlockStage::kComplete) done.documentName = FromUtf8(result.documentName);
  if (outcome) *outcome = done;
  return s;
}

PortStatus WriterEngine::AppendSummary(const SummaryTable& summary, SummaryOutcome* outcome) {
  wp::AppendSummary request;
  if (auto s = FontOf(summary.font, &request.font); !s) return s;
  request.heading = Utf8(summary.heading);
  for (const auto& [label, value] : summary.rows)
    request.rows.emplace_back(Utf8(label), Utf8(value));
  wp::AppendSummary::Result result;
  const PortStatus s = impl_->Op(request, impl_->options().callTimeoutMs, &result);
  if (outcome) {
    outcome->noDocument = result.noDocument;
    outcome->documentName = s ? FromUtf8(result.documentName) : QString();
  }
  return s;
}

PortStatus WriterEngine::Where(DocumentPlace* place) {
  wp::Where::Result result;
  if (auto s = impl_->Op(wp::Where{}, impl_->options().callTimeoutMs, &result); !s) return s;
  if (place) {
    place->name = FromUtf8(result.name);
    place->file = FromUtf8(result.file);
    place->shownToUser = !result.hidden && impl_->ShowsDocuments();
  }
  return {};
}

PortStatus WriterEngine::StoreCopy(const QString& path) {
  const QString filter = FilterFor(path);
  if (filter.isEmpty())
    return PortStatus::Error(
        QStringLiteral("Формат файла %1 не поддерживается: документ сохраняется в .docx, .pdf, "
                       ".odt или .doc.")
            .arg(QDir::toNativeSeparators(path)));
  QTemporaryDir folder;
  if (!folder.isValid())
    return PortStatus::Error(
        QStringLiteral("Не удается создать временную папку: %1").arg(folder.errorString()));
  // LibreOffice writes a file of its own; the target is then replaced in one step.
  const QString stored =
      folder.filePath(QStringLiteral("document.") + QFileInfo(path).suffix().toLower());
  wp::Store request;
  request.path = Utf8(stored);
  request.filter = Utf8(filter);
  if (auto s = impl_->Op(request, impl_->options().loadTimeoutMs); !s) return s;
  QFile file(stored);
  if (!file.open(QIODevice::ReadOnly))
    return PortStatus::Error(
        QStringLiteral("Не удается прочитать сохраненный документ: %1").arg(file.errorString()));
  const FileWriteResult written = WriteFileAtomically(path, file.readAll());
  if (!written)
    return PortStatus::Error(
        QStringLiteral("Не удается сохранить документ %1").arg(written.message()));
  return {};
}

PortStatus WriterEngine::CloseDocuments(CloseOutcome* outcome) {
  CloseOutcome done;
  if (outcome) *outcome = done;
  if (impl_->depth_ <= 0) return PortStatus::Error(NotConnected());
  PortStatus s;
  if (impl_->ShowsDocuments()) {
    // The report's "close all": Writer ends and asks about unsaved documents itself.
    wp::CloseDocuments request;
    request.mode = static_cast<std::uint8_t>(wp::CloseMode::kQuit);
    wp::CloseDocuments::Result result;
    s = impl_->Call(request, impl_->options().quitTimeoutMs, &result);
    done.documents = result.documents;
    if (s && result.documents > 0) impl_->AwaitOfficeEnd();
  } else {
    s = impl_->KeepAndClose(impl_->officeOwned_ && impl_->office_.Running(), &done);
  }
  if (outcome) *outcome = done;
  return s;
}

}  // namespace kd735
