#include "apps/common/simulator_menu.h"

#include "apps/common/program_shell.h"
#include "sim/simulated_bus.h"

namespace kd735 {

SimulatorMenu::SimulatorMenu(sim::SimulatedBus& bus, QWidget* parent)
    : QMenu(QStringLiteral("&Имитатор"), parent), bus_(bus) {
  setObjectName(QStringLiteral("SimulatorMenu"));
  plug_ = addAction(QStringLiteral("&Подключить прибор"), this, &SimulatorMenu::Plug);
  plug_->setObjectName(QStringLiteral("PlugInstrument"));
  unplug_ = addAction(QStringLiteral("&Отключить прибор"), this, &SimulatorMenu::Unplug);
  unplug_->setObjectName(QStringLiteral("UnplugInstrument"));
  UpdateActions();
}

bool SimulatorMenu::Plugged() const { return !bus_.AttachedPaths().isEmpty(); }

void SimulatorMenu::Plug() {
  // The same instrument comes back: the same number, its own files, freshly started.
  if (!Plugged()) bus_.AttachInstrument(1, QString::fromLatin1(kSimulatedDeviceNumber));
  UpdateActions();
}

void SimulatorMenu::Unplug() {
  for (const QString& path : bus_.AttachedPaths()) bus_.Detach(path);
  UpdateActions();
}

void SimulatorMenu::UpdateActions() {
  const bool plugged = Plugged();
  plug_->setEnabled(!plugged);
  unplug_->setEnabled(plugged);
}

}  // namespace kd735
