#include "apps/virtual/virtual_program.h"

#include "apps/common/form_kit.h"

namespace kd735::virtual_app {

VirtualProgram::VirtualProgram(UsbBus& bus, sim::SimulatedBus* simulated) {
  SetApplicationTitle(VirtualProgramInfo().title);
  main_ = std::make_unique<TMainForm>(simulated);
  main_->show();
  message_ = std::make_unique<TUSBMessageForm>();
  main_->SetMessageWindow(message_.get());
  link_ = MakeLinkWindow(bus, *main_, true);
  message_->SetLink(&link_->Link());
  main_->SetCloseHandler([this] { Shutdown(); });
}

VirtualProgram::~VirtualProgram() {
  Shutdown();
  link_.reset();
  message_.reset();
  main_.reset();
}

void VirtualProgram::Shutdown() {
  if (!link_) return;
  link_->Link().Shutdown();
  link_->hide();
  message_->hide();
}

ProgramInfo VirtualProgramInfo() {
  return {QStringLiteral("KD735_Virtual"), QStringLiteral("KD735_Virtual"),
          QStringLiteral("Virtual KD735 ultrasonic thickness gauge: its live screen and keys on "
                         "the PC (Виртуальный толщиномер КД735)."),
          QStringLiteral("ru.kd735.virtual")};
}

int RunVirtualProgram(int argc, char** argv) {
  return RunProgram(argc, argv, VirtualProgramInfo(), [](UsbBus& bus, sim::SimulatedBus* sim) {
    return std::make_unique<VirtualProgram>(bus, sim);
  });
}

}  // namespace kd735::virtual_app
