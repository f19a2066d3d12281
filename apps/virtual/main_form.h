#pragma once

#include "apps/common/panel_form.h"

class QFrame;
class QToolButton;

namespace kd735::sim {
class SimulatedBus;
}

namespace kd735::virtual_app {

// The virtual program's main window: the live screen at double scale with the remote keys, the
// picture's save and copy, and the button that opens the message window.
class TMainForm final : public TPanelForm {
  Q_OBJECT

 public:
  explicit TMainForm(sim::SimulatedBus* simulated = nullptr, QWidget* parent = nullptr);
  ~TMainForm() override;

  // Opens the message window.
  void SetMessageWindow(QWidget* messageWindow) { messageWindow_ = messageWindow; }

  void USBMessageSpeedButtonClick();
  void N4Click();

 private:
  QWidget* messageWindow_ = nullptr;
  QFrame* BottomPanel = nullptr;
  QToolButton* USBMessageSpeedButton = nullptr;
};

}  // namespace kd735::virtual_app
