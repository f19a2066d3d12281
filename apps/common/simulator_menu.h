#pragma once

#include <QMenu>
#include <QString>

namespace kd735::sim {
class SimulatedBus;
}

namespace kd735 {

// "Имитатор": plugs the simulated instrument in and out at run time, so that the programs'
// reaction to plugging can be shown. Only present with --simulate.
class SimulatorMenu final : public QMenu {
  Q_OBJECT

 public:
  SimulatorMenu(sim::SimulatedBus& bus, QWidget* parent = nullptr);

  void Plug();
  void Unplug();
  bool Plugged() const;

 private:
  void UpdateActions();

  sim::SimulatedBus& bus_;
  QAction* plug_ = nullptr;
  QAction* unplug_ = nullptr;
};

}  // namespace kd735
