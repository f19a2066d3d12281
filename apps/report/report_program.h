#pragma once

#include <memory>

#include "apps/common/link_form.h"
#include "apps/common/program_runner.h"
#include "apps/report/main_form.h"

namespace kd735::report_app {

// The report program's windows, made in its start-up order: the main window (shown, its tiles
// built), then the link window, whose creation starts the link.
class ReportProgram final : public ProgramWindows {
 public:
  ReportProgram(UsbBus& bus, sim::SimulatedBus* simulated, ReportEnvironment environment = {});
  ~ReportProgram() override;

  QWidget& MainWindow() override { return *main_; }
  TMainForm& MainForm() { return *main_; }
  TLinkForm& LinkForm() { return *link_; }

 private:
  void Shutdown();

  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TLinkForm> link_;
};

ProgramInfo ReportProgramInfo();

// The program's main.
int RunReportProgram(int argc, char** argv);

}  // namespace kd735::report_app
