#include "apps/common/program_shell.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QLockFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <cstring>

#include "files/runtime_folder.h"
#include "link/libusb_bus.h"
#include "sim/simulated_bus.h"

namespace kd735 {

namespace {

bool IsHelp(const char* a) { return !std::strcmp(a, "--help") || !std::strcmp(a, "-h"); }
bool IsVersion(const char* a) { return !std::strcmp(a, "--version") || !std::strcmp(a, "-v"); }

}  // namespace

QString UsageText(const ProgramInfo& info) {
  return QStringLiteral(
             "usage: %1 [--simulate] [Qt options]\n"
             "%2\n\n"
             "  --simulate   attach a simulated KD735 instead of the USB bus (demonstrations,\n"
             "               tests); its menu \"Имитатор\" plugs and unplugs it\n"
             "  --help, -h   show this text\n"
             "  --version, -v  show the version\n\n"
             "Without options the program works with a KD735 on the USB bus and follows its\n"
             "plugging and unplugging. Only one program of the KD735 family runs at a time.\n")
      .arg(info.executable, info.description);
}

int HandleInformationalArguments(int argc, char** argv, const ProgramInfo& info) {
  for (int i = 1; i < argc; ++i) {
    QTextStream out(stdout);
    if (IsHelp(argv[i])) {
      out << UsageText(info);
      return 0;
    }
    if (IsVersion(argv[i])) {
      out << info.executable << ' ' << KD735_VERSION << '\n';
      return 0;
    }
  }
  return -1;
}

bool ParseProgramArguments(const QStringList& arguments, ProgramArguments* parsed, QString* error) {
  *parsed = ProgramArguments{};
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == QLatin1String("--simulate")) {
      parsed->simulate = true;
      continue;
    }
    *error = QStringLiteral("unknown argument '%1'").arg(a);
    return false;
  }
  return true;
}

QString AlreadyRunningText() {
  return QStringLiteral(
      "Программа для толщиномера КД735 уже запущена.\rСовместная работа двух и более программ "
      "ЗАПРЕЩЕНА !!!");
}

struct InstanceGuard::Lock {
  explicit Lock(const QString& path) : file(path) {}
  QLockFile file;
};

InstanceGuard::InstanceGuard(const QString& folder) {
  // Never a name in the shared temporary folder: another user could make it first and so keep
  // the lock from being made at all.
  const QString dir = folder.isEmpty() ? PrivateStateFolder() : folder;
  if (!dir.isEmpty()) path_ = QDir(dir).filePath(QStringLiteral("KD735"));
}

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::Acquire() {
  if (path_.isEmpty()) return true;  // no runtime folder: run without the guard
  lock_ = std::make_unique<Lock>(path_);
  // Only a dead owner makes the lock stale, never its age: a program may run for days.
  lock_->file.setStaleLockTime(0);
  if (lock_->file.tryLock(0)) return true;
  const bool held = lock_->file.error() == QLockFile::LockFailedError;
  lock_.reset();
  return !held;
}

std::unique_ptr<UsbBus> OpenProgramBus(bool simulate, sim::SimulatedBus** simulated,
                                       QString* error) {
  if (simulated) *simulated = nullptr;
  if (simulate) {
    sim::SimulatedBus::Options o;
    o.latencyMs = 1;  // about a thousand packets a second, as the instrument sends them
    o.realClock = true;
    auto bus = std::make_unique<sim::SimulatedBus>(o);
    bus->AttachInstrument(1, QString::fromLatin1(kSimulatedDeviceNumber));
    if (simulated) *simulated = bus.get();
    return bus;
  }
  auto bus = std::make_unique<LibusbBus>();
  // A bus that is not ready lists nothing and opens nothing: the link says no instrument.
  if (!bus->IsReady()) *error = QStringLiteral("libusb could not be initialised");
  return bus;
}

namespace {

int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  const char byte = 1;
  // Only async-signal-safe work here: the event loop picks the byte up.
  [[maybe_unused]] const ssize_t n = ::write(terminationPipe[1], &byte, 1);
}

}  // namespace

void InstallTerminationHandler(std::function<void()> onTerminate) {
  if (terminationPipe[0] >= 0) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, terminationPipe) != 0) return;
  // Owned by the application object, so it goes with it.
  auto* notifier =
      new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                   [onTerminate = std::move(onTerminate)] {
                     char byte = 0;
                     [[maybe_unused]] const ssize_t n = ::read(terminationPipe[0], &byte, 1);
                     onTerminate();
                   });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &action, nullptr);
}

}  // namespace kd735
