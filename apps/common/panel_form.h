#pragma once

#include <QMainWindow>
#include <functional>

#include "apps/common/screen_view.h"
#include "apps/common/status_bar.h"
#include "link/transfer_record.h"
#include "panel/panel_commands.h"
#include "panel/screen_surface.h"

class QAbstractButton;
class QCheckBox;
class QMenu;
class QPushButton;
class QToolButton;

namespace kd735 {

class LinkController;

// What the main windows of both programs share: the virtual instrument panel (live screen, its
// two check boxes, the remote keys, restart, keyboard lock, clear), the link's status bar and
// the picture's save and copy. Each program lays the controls out itself.
class TPanelForm : public QMainWindow {
  Q_OBJECT

 public:
  struct Layout {
    int scale;              // 1: report program, 2: virtual program
    QString copyItemText;   // the copy item of the screen's context menu
    bool saveInScreenMenu;  // "Сохранить в файл" in that menu as well
    QList<TStatusBar::Panel> statusPanels;
  };

  explicit TPanelForm(const Layout& layout, QWidget* parent = nullptr);
  ~TPanelForm() override;

  // The link the keys send through; set when the link window exists.
  virtual void SetLink(LinkController* link);
  // Shows the link window ("События USB").
  void SetLinkWindow(QWidget* linkWindow) { linkWindow_ = linkWindow; }
  // Runs when the window closes, before the surface is released: the program stops the link.
  void SetCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

  // The frame handler: draws one stream packet (only tile copies).
  void DrawScreenPacket(const Packet& streamPacket);
  // The link's status texts go to the footer panels.
  void SetStatusPanel(int panel, const QString& text);

  ScreenSurface& Surface() { return surface_; }
  TDXDraw* Screen() const { return DXDraw; }
  TStatusBar* Footer() const { return FooterStatusBar; }

  // Handlers, named after their control and event.
  void DXDrawInitialize();
  void DXDrawFinalize();
  void InvColorCheckBoxClick();
  void ScreenClearSpeedButtonClick();
  void EnterSpeedButtonClick();
  void EscapeSpeedButtonClick();
  void UpSpeedButtonClick();
  void DownSpeedButtonClick();
  void LeftSpeedButtonClick();
  void RightSpeedButtonClick();
  void ReStartSpeedButtonClick();
  void UnLocButtomsSpeedButtonClick();
  void SaveToFileClick();
  void CopyToClipBoardClick();
  void BitBtn1Click();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // The client area the program lays its controls on.
  QWidget* Client() const { return client_; }
  LinkController* Link() const { return link_; }

  TDXDraw* DXDraw = nullptr;
  QCheckBox* DrawCheckBox = nullptr;
  QCheckBox* InvColorCheckBox = nullptr;
  QToolButton* EnterSpeedButton = nullptr;
  QToolButton* EscapeSpeedButton = nullptr;
  QToolButton* UpSpeedButton = nullptr;
  QToolButton* DownSpeedButton = nullptr;
  QToolButton* LeftSpeedButton = nullptr;
  QToolButton* RightSpeedButton = nullptr;
  QToolButton* ReStartSpeedButton = nullptr;
  QToolButton* UnLocButtomsSpeedButton = nullptr;
  QToolButton* ScreenClearSpeedButton = nullptr;
  QPushButton* BitBtn1 = nullptr;
  TStatusBar* FooterStatusBar = nullptr;
  QMenu* CopyPopupMenu = nullptr;

 private:
  void SendPanelCommand(QAbstractButton* button, PanelControl control);
  // Without an instrument the last picture stays, dimmed under the link state.
  void UpdateLiveState();
  QToolButton* MakeKey(const char* name, PanelControl control);

  ScreenSurface surface_;
  QWidget* client_ = nullptr;
  LinkController* link_ = nullptr;
  QWidget* linkWindow_ = nullptr;
  std::function<void()> closeHandler_;
  bool shown_ = false;
  bool closed_ = false;
};

}  // namespace kd735
