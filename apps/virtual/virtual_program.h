#pragma once

#include <memory>

#include "apps/common/link_form.h"
#include "apps/common/program_runner.h"
#include "apps/virtual/main_form.h"
#include "apps/virtual/message_form.h"

namespace kd735::virtual_app {

// The virtual program's windows, made in its start-up order: the main window (shown, its tiles
// built), the message window, then the link window, whose creation starts the link.
class VirtualProgram final : public ProgramWindows {
 public:
  VirtualProgram(UsbBus& bus, sim::SimulatedBus* simulated);
  ~VirtualProgram() override;

  QWidget& MainWindow() override { return *main_; }
  TMainForm& MainForm() { return *main_; }
  TUSBMessageForm& MessageForm() { return *message_; }
  TLinkForm& LinkForm() { return *link_; }

 private:
  void Shutdown();

  std::unique_ptr<TMainForm> main_;
  std::unique_ptr<TUSBMessageForm> message_;
  std::unique_ptr<TLinkForm> link_;
};

ProgramInfo VirtualProgramInfo();

// The program's main.
int RunVirtualProgram(int argc, char** argv);

}  // namespace kd735::virtual_app
