#include "apps/report/report_program.h"

#include "apps/common/form_kit.h"

namespace kd735::report_app {

ReportProgram::ReportProgram(UsbBus& bus, sim::SimulatedBus* simulated,
                             ReportEnvironment environment) {
  SetApplicationTitle(ReportProgramInfo().title);
  main_ = std::make_unique<TMainForm>(simulated, std::move(environment));
  main_->show();
  link_ = MakeLinkWindow(bus, *main_, false);
  main_->SetCloseHandler([this] { Shutdown(); });
}

ReportProgram::~ReportProgram() {
  Shutdown();
  link_.reset();
  main_.reset();
}

void ReportProgram::Shutdown() {
  if (!link_) return;
  link_->Link().Shutdown();
  link_->hide();
}

ProgramInfo ReportProgramInfo() {
  return {QStringLiteral("KD735_Report"), QStringLiteral("KD735_report"),
          QStringLiteral("Report generator of the KD735 ultrasonic thickness gauge "
                         "(Генератор отчетов ультразвукового толщиномера КД735)."),
          QStringLiteral("ru.kd735.report")};
}

int RunReportProgram(int argc, char** argv) {
  return RunProgram(argc, argv, ReportProgramInfo(), [](UsbBus& bus, sim::SimulatedBus* sim) {
    return std::make_unique<ReportProgram>(bus, sim);
  });
}

}  // namespace kd735::report_app
