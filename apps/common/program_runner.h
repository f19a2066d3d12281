#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "apps/common/program_shell.h"

namespace kd735 {

// The windows of one running program, created in the program's order on construction.
class ProgramWindows {
 public:
  virtual ~ProgramWindows() = default;
  virtual QWidget& MainWindow() = 0;
};

using ProgramFactory =
    std::function<std::unique_ptr<ProgramWindows>(UsbBus& bus, sim::SimulatedBus* simulated)>;

// A program's whole main: --help and --version, the application, the single-instance guard and
// its refusal, the application title, the bus (--simulate or USB), the windows, the event loop,
// and a clean end on SIGTERM.
int RunProgram(int argc, char** argv, const ProgramInfo& info, const ProgramFactory& make);

}  // namespace kd735
