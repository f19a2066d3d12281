#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "apps/common/program_shell.h"

class QCoreApplication;
class QTranslator;

namespace kd735 {

// The windows of one running program, created in the program's order on construction.
class ProgramWindows {
 public:
  virtual ~ProgramWindows() = default;
  virtual QWidget& MainWindow() = 0;
};

using ProgramFactory =
    std::function<std::unique_ptr<ProgramWindows>(UsbBus& bus, sim::SimulatedBus* simulated)>;

// The user's language and formats for the whole program: dates and numbers by UserLocale() (also
// for QLocale()), and Qt's own texts (file and font dialogs, standard buttons) translated into
// that language where Qt has a translation. Returns the translator installed, or null.
QTranslator* UseUserLanguage(QCoreApplication& app);

// A program's whole main: --help and --version, the application, the single-instance guard and
// its refusal, the application title, the bus (--simulate or USB), the windows, the event loop,
// and a clean end on SIGTERM.
int RunProgram(int argc, char** argv, const ProgramInfo& info, const ProgramFactory& make);

}  // namespace kd735
