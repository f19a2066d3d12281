#include "report/writer_word.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "files/atomic_file.h"
#include "files/bitmap_file.h"
#include "report/writer_protocol.h"

extern char** environ;

namespace kd735 {

namespace {

namespace wp = writer_protocol;
using Clock = std::chrono::steady_clock;

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

// A child process in a process group of its own, started without a shell. The object reaps it
// once it has ended; it never ends a child on its own (Kill does).
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Running(); }

  // `stdio` becomes the child's standard input and output (-1: /dev/null); its standard error is
  // ours unless `quiet`. No other descriptor of ours is passed on.
  // `environment`, when given, replaces ours ("NAME=value" each).
  bool Start(const QString& program, const QStringList& args, int stdio, bool quiet, QString* error,
             const QStringList& environment = {}) {
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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdio >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stdio, 0);
      posix_spawn_file_actions_adddup2(&actions, stdio, 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: a Ctrl+C meant for the program does not reach it, and the whole
    // group (soffice starts soffice.bin under it) can be ended at once.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, sig);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, strings[0].c_str(), &actions, &attr, argv.data(),
                               environment.isEmpty() ? environ : envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
      *error = QString::fromLocal8Bit(std::strerror(rc));
      return false;
    }
    pid_ = pid;
    exitCode_ = -1;
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

  void Kill() {
    if (!Running()) return;
    kill(-pid_, SIGKILL);
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    exitCode_ = -1;
  }

 private:
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
    const ssize_t n = recv(fd, data, size, MSG_DONTWAIT);
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

}  // namespace

class WriterWord::Impl {
 public:
  Impl(PictureClipboard& clipboard, WriterWordOptions options)
      : clipboard_(clipboard), options_(std::move(options)) {
    pipe_ = options_.pipeName;
    if (pipe_.isEmpty()) {
      pipe_ = QStringLiteral("kd735_writer_%1").arg(getuid());
      if (!options_.profileDir.isEmpty())
        pipe_ += QStringLiteral("_%1_%2").arg(getpid()).arg(QRandomGenerator::global()->generate(),
                                                            8, 16, QLatin1Char('0'));
    }
  }

  ~Impl() {
    const bool told = officeOwned_ && office_.Running() && HelperRunning() &&
                      Call(wp::Encoder().Op(wp::Op::kTerminate), kTerminateMs).ok();
    StopHelper();
    if (officeOwned_ && !(told && office_.WaitForEnd(kOfficeEndMs))) office_.Kill();
  }

  qint64 officeProcessId() { return office_.Running() ? office_.pid() : 0; }

  WordStatus Connect() {
    if (auto s = Ensure(); !s) return s;
    if (connections_ == 0) {
      if (auto s = Call(wp::Encoder().Op(wp::Op::kBeginAction), options_.callTimeoutMs); !s)
        return s;
    }
    ++connections_;
    return {};
  }

  WordStatus Disconnect() {
    if (connections_ == 0) return {};
    if (--connections_ > 0) return {};
    // The action's work is shown in full; a failure here changes nothing that was done.
    if (HelperRunning()) Call(wp::Encoder().Op(wp::Op::kEndAction), options_.loadTimeoutMs);
    return {};
  }

  // One operation: the request, its time limit, and the results after the reply's status.
  WordStatus Call(const wp::Encoder& request, int timeoutMs, std::string* results = nullptr) {
    if (!HelperRunning()) return WordStatus::Error(NotConnected());
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Io io = SendAll(socket_, request.Message(), deadline);
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
    if (io != Io::kOk) {
      // A helper that does not answer is waiting for LibreOffice: it is ended, and the next
      // action starts a new one.
      StopHelper(/*wait=*/false);
      return WordStatus::Error(io == Io::kTimeout
                                   ? NoAnswer(timeoutMs)
                                   : QStringLiteral("Модуль связи с LibreOffice Writer (%1) "
                                                    "неожиданно завершился.")
                                         .arg(QLatin1String(kHelperName)));
    }
    wp::Decoder in(payload);
    if (static_cast<wp::Status>(in.U8()) == wp::Status::kOk) {
      if (results) *results = payload.substr(1);
      return {};
    }
    QString text = QString::fromUtf8(in.Str());
    const std::uint8_t flags = in.U8();
    if (text.isEmpty()) text = QStringLiteral("Ошибка LibreOffice Writer.");
    if ((flags & wp::kDocumentClosed) && !text.contains(QStringLiteral("закрыт")))
      text += QStringLiteral("\rДокумент закрыт в LibreOffice Writer.");
    if (flags & wp::kConnectionLost) text += u'\r' + ConnectionLost();
    return WordStatus::Error(text);
  }

  // An operation of the connection made by Connect.
  WordStatus Op(const wp::Encoder& request, std::string* results = nullptr) {
    if (connections_ <= 0) return WordStatus::Error(NotConnected());
    return Call(request, options_.callTimeoutMs, results);
  }
  WordStatus OpWithLimit(const wp::Encoder& request, int timeoutMs,
                         std::string* results = nullptr) {
    if (connections_ <= 0) return WordStatus::Error(NotConnected());
    return Call(request, timeoutMs, results);
  }

  // After Quit: a LibreOffice started here is given the time to end, so that the next start does
  // not find it still ending.
  void AwaitOfficeEnd() { office_.WaitForEnd(kOfficeEndMs); }

  PictureClipboard& clipboard() { return clipboard_; }
  const WriterWordOptions& options() const { return options_; }

 private:
  bool HelperRunning() { return socket_ >= 0 && helper_.Running(); }

  WordStatus StartHelper() {
    StopHelper(false);
    const QString path = FindHelper(options_.helper);
    if (path.isEmpty())
      return WordStatus::Error(
          QStringLiteral("Не найден модуль связи с LibreOffice Writer (%1). Переустановите "
                         "программу или выберите формирование отчета в файлы .docx.")
              .arg(QLatin1String(kHelperName)));
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
      return WordStatus::Error(QStringLiteral("Не удается создать канал связи с LibreOffice "
                                              "Writer: %1")
                                   .arg(QString::fromLocal8Bit(std::strerror(errno))));
    QString error;
    const bool started = helper_.Start(path, {}, fds[1], false, &error, HelperEnvironment());
    close(fds[1]);
    if (!started) {
      close(fds[0]);
      return WordStatus::Error(
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

  WordStatus Attach(wp::AttachState* state) {
    std::string r;
    if (auto s = Call(wp::Encoder().Op(wp::Op::kAttach).Str(pipe_.toStdString()),
                      options_.callTimeoutMs, &r);
        !s)
      return s;
    *state = static_cast<wp::AttachState>(wp::Decoder(r).U8());
    return {};
  }

  // Attaches to the LibreOffice on the pipe, starting one when nobody listens there.
  WordStatus Ensure() {
    office_.Running();  // reaps one that has ended
    if (!HelperRunning()) {
      if (auto s = StartHelper(); !s) return s;
    }
    wp::AttachState state = wp::AttachState::kNobody;
    if (auto s = Attach(&state); !s) return s;
    if (state == wp::AttachState::kAttached) return {};
    // One that is ending (the user quit it a moment ago) is given the time to end first.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kOfficeEndMs);
    while (state == wp::AttachState::kEnding && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      office_.Running();
      if (auto s = Attach(&state); !s) return s;
    }
    if (state == wp::AttachState::kAttached) return {};
    return StartOffice();
  }

  WordStatus StartOffice() {
    const QString soffice = FindSoffice(options_.soffice);
    if (soffice.isEmpty())
      return WordStatus::Error(
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
    if (office_.Running() && !office_.WaitForEnd(kOfficeEndMs)) office_.Kill();
    if (!office_.Start(soffice, args, -1, true, &error))
      return WordStatus::Error(QStringLiteral("Не удается запустить LibreOffice Writer (%1): %2")
                                   .arg(QDir::toNativeSeparators(soffice), error));
    officeOwned_ = !options_.profileDir.isEmpty();
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.startTimeoutMs);
    auto handedOver = Clock::time_point::max();
    for (int delayMs = 50;; delayMs = std::min(delayMs * 2, 200)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      const bool wasRunning = office_.pid() > 0;
      if (wasRunning && !office_.Running()) {
        // soffice ends at once with 0 when it handed its task to a LibreOffice already running
        // for this profile; that one then opens the pipe.
        if (office_.exitCode() != 0)
          return WordStatus::Error(
              QStringLiteral("LibreOffice Writer завершился при запуске (код %1).")
                  .arg(office_.exitCode()));
        officeOwned_ = false;
        handedOver = Clock::now();
      }
      wp::AttachState state = wp::AttachState::kNobody;
      if (auto s = Attach(&state); !s) return s;
      if (state == wp::AttachState::kAttached) return {};
      if (Clock::now() - handedOver > std::chrono::milliseconds(kHandOverMs)) {
        // The LibreOffice it was handed to was ending: start one anew.
        handedOver = Clock::time_point::max();
        if (!office_.Start(soffice, args, -1, true, &error))
          return WordStatus::Error(
              QStringLiteral("Не удается запустить LibreOffice Writer (%1): %2")
                  .arg(QDir::toNativeSeparators(soffice), error));
        officeOwned_ = !options_.profileDir.isEmpty();
      }
      if (Clock::now() >= deadline) {
        office_.Kill();
        return WordStatus::Error(
            QStringLiteral("LibreOffice Writer не ответил за %1 с после запуска.")
                .arg((options_.startTimeoutMs + 999) / 1000));
      }
    }
  }

  PictureClipboard& clipboard_;
  WriterWordOptions options_;
  QString pipe_;
  int connections_ = 0;
  Child helper_;
  int socket_ = -1;           // our end of the helper's socket
  Child office_;              // the LibreOffice started here
  bool officeOwned_ = false;  // a private one, ended with this object
};

WriterWord::WriterWord(PictureClipboard& clipboard, WriterWordOptions options)
    : impl_(std::make_unique<Impl>(clipboard, std::move(options))) {}

WriterWord::~WriterWord() = default;

QStringList WriterWord::HelperEnvironment() {
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

QString WriterWord::FindHelper(const QString& configured) {
  if (!configured.isEmpty()) return IsProgram(configured) ? configured : QString();
  const QString folder = ProgramFolder();
  QStringList candidates{folder + u'/' + QLatin1String(kHelperName),
                         folder + QStringLiteral("/../lib/kd735/") + QLatin1String(kHelperName)};
#ifdef KD735_WRITER_BUILD_PATH
  candidates << QStringLiteral(KD735_WRITER_BUILD_PATH);
#endif
  for (const QString& c : candidates)
    if (IsProgram(c)) return QDir::cleanPath(QFileInfo(c).absoluteFilePath());
  return {};
}

QString WriterWord::FindSoffice(const QString& configured) {
  if (!configured.isEmpty()) {
    if (IsProgram(configured)) return configured;
    return QStandardPaths::findExecutable(configured);
  }
  return QStandardPaths::findExecutable(QStringLiteral("soffice"));
}

qint64 WriterWord::officeProcessId() const { return impl_->officeProcessId(); }

WordStatus WriterWord::Connect() { return impl_->Connect(); }
WordStatus WriterWord::Disconnect() { return impl_->Disconnect(); }

WordStatus WriterWord::SetVisible(bool visible) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetVisible).Bool(visible));
}

WordStatus WriterWord::SetOption(bool) {
  // Writer has no counterpart of the option; the call only needs the connection.
  return impl_->Op(wp::Encoder().Op(wp::Op::kDocumentsCount));
}

WordStatus WriterWord::DocumentsCount(int* count) {
  std::string r;
  if (auto s = impl_->Op(wp::Encoder().Op(wp::Op::kDocumentsCount), &r); !s) return s;
  *count = wp::Decoder(r).I32();
  return {};
}

WordStatus WriterWord::DocumentsAdd(const QString& templatePath, bool newTemplate) {
  if (newTemplate)
    return WordStatus::Error(QStringLiteral("Создание нового шаблона не поддерживается."));
  const QString path = QFileInfo(templatePath).absoluteFilePath();
  return impl_->OpWithLimit(
      wp::Encoder().Op(wp::Op::kDocumentsAdd).Str(path.toStdString()).Bool(true),
      impl_->options().loadTimeoutMs);
}

WordStatus WriterWord::ActiveDocument(WordDocumentRef* document) {
  std::string r;
  if (auto s = impl_->Op(wp::Encoder().Op(wp::Op::kActiveDocument), &r); !s) return s;
  document->id = wp::Decoder(r).I32();
  return {};
}

WordStatus WriterWord::Activate() { return impl_->Op(wp::Encoder().Op(wp::Op::kActivate)); }

WordStatus WriterWord::Quit() {
  WordStatus s =
      impl_->OpWithLimit(wp::Encoder().Op(wp::Op::kQuit), impl_->options().quitTimeoutMs);
  if (s) impl_->AwaitOfficeEnd();
  return s;
}

WordStatus WriterWord::Name(WordDocumentRef document, QString* name) {
  std::string r;
  if (auto s = impl_->Op(wp::Encoder().Op(wp::Op::kName).I32(document.id), &r); !s) return s;
  *name = QString::fromStdString(wp::Decoder(r).Str());
  return {};
}

WordStatus WriterWord::SetVariable(WordDocumentRef document, const QString& name,
                                   const QString& value) {
  return impl_->Op(wp::Encoder()
                       .Op(wp::Op::kSetVariable)
                       .I32(document.id)
                       .Str(name.toStdString())
                       .Str(value.toStdString()));
}

WordStatus WriterWord::FieldsUpdate(WordDocumentRef document) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kFieldsUpdate).I32(document.id));
}

WordStatus WriterWord::TablesItem(WordDocumentRef document, int position, WordTableRef* table) {
  if (auto s = impl_->Op(wp::Encoder().Op(wp::Op::kTablesItem).I32(document.id).I32(position)); !s)
    return s;
  table->document = document.id;
  table->position = position;
  return {};
}

WordStatus WriterWord::RowsAdd(WordTableRef table) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kRowsAdd).I32(table.document).I32(table.position));
}

WordStatus WriterWord::RowsCount(WordTableRef table, int* count) {
  std::string r;
  if (auto s = impl_->Op(
          wp::Encoder().Op(wp::Op::kRowsCount).I32(table.document).I32(table.position), &r);
      !s)
    return s;
  *count = wp::Decoder(r).I32();
  return {};
}

WordStatus WriterWord::CellSelect(WordTableRef table, int row, int column) {
  return impl_->Op(wp::Encoder()
                       .Op(wp::Op::kCellSelect)
                       .I32(table.document)
                       .I32(table.position)
                       .I32(row)
                       .I32(column));
}

WordStatus WriterWord::SetSelectionAlignment(int alignment) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetAlignment).I32(alignment));
}

WordStatus WriterWord::SetSelectionText(const QString& text) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetText).Str(text.toStdString()));
}

WordStatus WriterWord::SelectionPaste() {
  const PictureClipboard& clipboard = impl_->clipboard();
  if (!clipboard.hasPicture())
    return WordStatus::Error(
        QStringLiteral("Невозможно вставить: буфер обмена не содержит рисунка."));
  QImage picture = clipboard.picture();
  picture.setDotsPerMeterX(3780);  // 96 pixels per inch, the size the picture is shown at
  picture.setDotsPerMeterY(3780);
  const QByteArray png = EncodeImage(picture, "PNG");
  if (png.isEmpty())
    return WordStatus::Error(QStringLiteral("Не удается записать рисунок в формате PNG."));
  return impl_->Op(wp::Encoder()
                       .Op(wp::Op::kPastePicture)
                       .Bytes(std::string_view(png.constData(), png.size()))
                       .I32(picture.width())
                       .I32(picture.height()));
}

WordStatus WriterWord::SetSelectionFontName(const QString& name) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetFontName).Str(name.toStdString()));
}

WordStatus WriterWord::SetSelectionFontSize(float points) {
  if (!std::isfinite(points) || points < 1.0f || points > 1638.0f)
    return WordStatus::Error(OutOfRange());
  return impl_->Op(wp::Encoder()
                       .Op(wp::Op::kSetFontSize)
                       .I32(static_cast<std::int32_t>(std::lround(points * 100.0f))));
}

WordStatus WriterWord::SetSelectionFontBold(int bold) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetFontBold).I32(bold));
}

WordStatus WriterWord::SetSelectionFontItalic(int italic) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetFontItalic).I32(italic));
}

WordStatus WriterWord::SetSelectionFontColorIndex(int colorIndex) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kSetFontColorIndex).I32(colorIndex));
}

WordStatus WriterWord::SelectionCollapse(int direction) {
  return impl_->Op(wp::Encoder().Op(wp::Op::kCollapse).I32(direction));
}

WordStatus WriterWord::CloseDocuments() {
  if (auto s = Connect(); !s) return s;
  const WordStatus result = impl_->Op(wp::Encoder().Op(wp::Op::kCloseDocuments));
  Disconnect();
  return result;
}

WordStatus WriterWord::SaveActiveDocument(const QString& path) {
  const QString filter = FilterFor(path);
  if (filter.isEmpty())
    return WordStatus::Error(
        QStringLiteral("Формат файла %1 не поддерживается: документ сохраняется в .docx, .pdf, "
                       ".odt или .doc.")
            .arg(QDir::toNativeSeparators(path)));
  if (auto s = Connect(); !s) return s;
  WordStatus result;
  WordDocumentRef doc;
  QTemporaryDir folder;
  const QString stored =
      folder.filePath(QStringLiteral("document.") + QFileInfo(path).suffix().toLower());
  if (!folder.isValid()) {
    result = WordStatus::Error(
        QStringLiteral("Не удается создать временную папку: %1").arg(folder.errorString()));
  } else if ((result = ActiveDocument(&doc))) {
    // LibreOffice writes a file of its own; the target is then replaced in one step.
    result = impl_->OpWithLimit(wp::Encoder()
                                    .Op(wp::Op::kStore)
                                    .I32(doc.id)
                                    .Str(stored.toStdString())
                                    .Str(filter.toStdString()),
                                impl_->options().loadTimeoutMs);
  }
  if (result) {
    QFile file(stored);
    if (!file.open(QIODevice::ReadOnly)) {
      result = WordStatus::Error(
          QStringLiteral("Не удается прочитать сохраненный документ: %1").arg(file.errorString()));
    } else {
      const FileWriteResult written = WriteFileAtomically(path, file.readAll());
      if (!written)
        result = WordStatus::Error(
            QStringLiteral("Не удается сохранить документ %1").arg(written.message()));
    }
  }
  Disconnect();
  return result;
}

}  // namespace kd735
