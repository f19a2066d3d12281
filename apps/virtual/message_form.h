#pragma once

#include "apps/common/fixed_window.h"

class QLineEdit;
class QSpinBox;
class QPushButton;

namespace kd735 {
class LinkController;
}

namespace kd735::virtual_app {

// The message window: a short text and a time in seconds, sent to be shown on the instrument's
// own screen. Not modal; closing it only hides it.
class TUSBMessageForm final : public TFixedWindow {
  Q_OBJECT

 public:
  explicit TUSBMessageForm(QWidget* parent = nullptr);

  void SetLink(LinkController* link) { link_ = link; }
  void USBMessageSpeedButtonClick();

 private:
  LinkController* link_ = nullptr;
  QLineEdit* USBMessageMaskEdit = nullptr;
  QSpinBox* TimeSpinEdit = nullptr;
  QPushButton* USBMessageSpeedButton = nullptr;
};

}  // namespace kd735::virtual_app
