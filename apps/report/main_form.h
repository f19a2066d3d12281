#pragma once

#include "apps/common/panel_form.h"

class QGroupBox;
class QFrame;
class QTabWidget;
class QWidget;

namespace kd735::sim {
class SimulatedBus;
}

namespace kd735::report_app {

// The report program's main window: the virtual instrument panel in the left column, the two
// pages of the report on the right.
class TMainForm final : public TPanelForm {
  Q_OBJECT

 public:
  // `simulated`: the simulated bus, which gets its "Имитатор" menu; null on the USB bus.
  explicit TMainForm(sim::SimulatedBus* simulated = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  void FormCreate();

  QTabWidget* Pages() const { return PageControl; }

 private:
  QGroupBox* VirtualKDGroupBox = nullptr;
  QFrame* BottomPanel = nullptr;
  QTabWidget* PageControl = nullptr;
  QWidget* CreateMSWordDocumentTabSheet = nullptr;
  QWidget* TxDataToMSWordTabSheet = nullptr;
};

}  // namespace kd735::report_app
