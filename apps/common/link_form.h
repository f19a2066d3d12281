#pragma once

#include <functional>
#include <memory>

#include "apps/common/fixed_window.h"

#include "link/link_controller.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace kd735 {

// The link window, "События USB ": the instruments found, the stream controls, the numbered event
// log. It owns the link; creating it runs the first connection attempt. Closing it only hides it.
class TPanelForm;

class TLinkForm final : public TFixedWindow {
  Q_OBJECT

 public:
  using StatusSink = std::function<void(int panel, const QString& text)>;

  // `frames` draws each stream packet on the main window, `status` writes its footer panels.
  // The virtual program names two buttons differently and adds its software identification to
  // "Свойства".
  TLinkForm(UsbBus& bus, LinkController::FrameHandler frames, StatusSink status,
            bool virtualProgram, QWidget* parent = nullptr);
  ~TLinkForm() override;

  LinkController& Link() { return link_; }

  // Handlers, named after their control and event.
  void FormCreate();
  void CreateThreadButtonClick();
  void ResumeThreadBitBtnClick();
  void SuspendThreadBitBtnClick();
  void DestroyThreadButtonClick();
  void SpeedButton1Click();
  void ClearMemoBitBtnClick();
  void SpeedButtonClick();
  void UDCountRadioGroupClick(int index);

 private:
  void RefillInstruments();
  void AppendLine(const QString& line);

  LinkController link_;
  bool virtualProgram_;
  QGroupBox* UDCountRadioGroup = nullptr;
  QVBoxLayout* radioLayout_ = nullptr;
  QButtonGroup* radioButtons_ = nullptr;
  QPushButton* CreateThreadButton = nullptr;
  QPushButton* ResumeThreadBitBtn = nullptr;
  QPushButton* SuspendThreadBitBtn = nullptr;
  QPushButton* DestroyThreadButton = nullptr;
  QPlainTextEdit* Memo = nullptr;
  QPushButton* SpeedButton1 = nullptr;
  QPushButton* ClearMemoBitBtn = nullptr;
  QPushButton* SpeedButton = nullptr;
};

// The link window of a program, drawing on its main window and writing its footer; the main
// window's keys and "События USB" are bound to it.
std::unique_ptr<TLinkForm> MakeLinkWindow(UsbBus& bus, TPanelForm& main, bool virtualProgram);

}  // namespace kd735
