#pragma once

#include <QWidget>
#include <functional>

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
class TLinkForm final : public QWidget {
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void RefillInstruments();
  void AppendLine(const QString& line);

  LinkController link_;
  bool virtualProgram_;
  bool shown_ = false;
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

}  // namespace kd735
