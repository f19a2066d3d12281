#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "link/usb_bus.h"

namespace kd735::sim {
class SimulatedBus;
}

// What both programs do before and around their windows: the informational arguments, the
// remaining command line, the single-instance guard, the bus they attach to and a clean end on
// SIGTERM. Display-free.
namespace kd735 {

struct ProgramInfo {
  QString executable;       // "KD735_Report"
  QString title;            // the application title, "KD735_report"
  QString description;      // one line for --help
  QString desktopFileName;  // the desktop entry the windows belong to
};

struct ProgramArguments {
  bool simulate = false;  // attach the simulated instrument instead of the USB bus
};

// Answers --help/-h and --version/-v before any window system is needed. Returns the exit code
// when one of them was given (the text is printed), or -1 to go on.
int HandleInformationalArguments(int argc, char** argv, const ProgramInfo& info);

// The arguments left once Qt has taken its own (the first one is the program). False with the
// message when one is not known.
bool ParseProgramArguments(const QStringList& arguments, ProgramArguments* parsed, QString* error);

// "usage: KD735_Report [--simulate] ..." with every option explained.
QString UsageText(const ProgramInfo& info);

// The text of the refusal box shown when another program of the family runs; "\r" breaks lines.
QString AlreadyRunningText();

// One lock, "KD735", shared by both programs in the user's runtime folder (or, without one, in a
// private folder under the home: PrivateStateFolder). A lock left by a
// program that crashed or was killed is taken over; a lock held by a running one is not, however
// long it has been held.
class InstanceGuard {
 public:
  // folder: where the lock lives; empty: PrivateStateFolder().
  explicit InstanceGuard(const QString& folder = QString());
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // True when this process now holds the lock, or when no lock can be made at all (the program
  // then runs without the guard). False only when another program of the family holds it.
  bool Acquire();

 private:
  QString path_;
  struct Lock;
  std::unique_ptr<Lock> lock_;
};

// The bus a program attaches to: with `simulate`, a simulated bus with one instrument plugged in
// (its latency and live clock those of a real instrument), reported through `simulated`;
// otherwise libusb (a bus that finds nothing, with the reason in `error`, when libusb cannot be
// initialised).
std::unique_ptr<UsbBus> OpenProgramBus(bool simulate, sim::SimulatedBus** simulated,
                                       QString* error);

// The number the simulated instrument carries, also after it is plugged in again.
inline constexpr const char* kSimulatedDeviceNumber = "00123";

// Runs `onTerminate` on the thread of the caller's event loop when SIGTERM, SIGINT or SIGHUP
// arrives. Call once, after the application object exists.
void InstallTerminationHandler(std::function<void()> onTerminate);

}  // namespace kd735
