#include "apps/common/panel_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QImageWriter>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>

#include "apps/common/form_kit.h"
#include "files/bitmap_file.h"
#include "files/file_record.h"
#include "link/link_controller.h"

namespace kd735 {

namespace {

// The picture types Qt can write, bitmaps first; whatever is chosen, a BMP is written.
QStringList PictureFilters() {
  QStringList filters{QStringLiteral("Точечный рисунок (*.bmp)")};
  for (const QByteArray& format : QImageWriter::supportedImageFormats()) {
    const QString f = QString::fromLatin1(format).toLower();
    if (f == QLatin1String("bmp")) continue;
    filters << QStringLiteral("%1 (*.%2)").arg(f.toUpper(), f);
  }
  filters << QStringLiteral("Все файлы (*)");
  return filters;
}

}  // namespace

TPanelForm::TPanelForm(const Layout& layout, QWidget* parent)
    : QMainWindow(parent), surface_(layout.scale) {
  setFont(PageFont());
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client_);

  const ScreenGeometry& g = surface_.Geometry();
  DXDraw = new TDXDraw(g, client_);
  surface_.SetPresentHandler([this](const QImage& backBuffer) { DXDraw->Present(backBuffer); });

  DrawCheckBox = new QCheckBox(QStringLiteral("Вывод картинки"), client_);
  NameControl(DrawCheckBox, "DrawCheckBox");
  DrawCheckBox->setChecked(true);
  connect(DrawCheckBox, &QCheckBox::toggled, this,
          [this](bool on) { surface_.SetDrawEnabled(on); });

  InvColorCheckBox = new QCheckBox(QStringLiteral("Инверсия цветов"), client_);
  NameControl(InvColorCheckBox, "InvColorCheckBox");
  connect(InvColorCheckBox, &QCheckBox::toggled, this, [this](bool on) {
    surface_.SetInverted(on);
    InvColorCheckBoxClick();
  });

  EnterSpeedButton = MakeKey("EnterSpeedButton", PanelControl::Enter);
  EscapeSpeedButton = MakeKey("EscapeSpeedButton", PanelControl::Escape);
  UpSpeedButton = MakeKey("UpSpeedButton", PanelControl::Up);
  DownSpeedButton = MakeKey("DownSpeedButton", PanelControl::Down);
  LeftSpeedButton = MakeKey("LeftSpeedButton", PanelControl::Left);
  RightSpeedButton = MakeKey("RightSpeedButton", PanelControl::Right);
  ReStartSpeedButton = MakeKey("ReStartSpeedButton", PanelControl::Restart);
  UnLocButtomsSpeedButton = MakeKey("UnLocButtomsSpeedButton", PanelControl::KeyLock);

  ScreenClearSpeedButton = new QToolButton(client_);
  NameControl(ScreenClearSpeedButton, "ScreenClearSpeedButton", QStringLiteral("Очистка экрана"));
  ScreenClearSpeedButton->setToolTip(QStringLiteral("Очистка экрана"));
  ScreenClearSpeedButton->setIcon(PanelGlyph(Glyph::kClear));
  connect(ScreenClearSpeedButton, &QToolButton::clicked, this,
          &TPanelForm::ScreenClearSpeedButtonClick);

  BitBtn1 = new QPushButton(QStringLiteral("События USB"), client_);
  NameControl(BitBtn1, "BitBtn1");
  connect(BitBtn1, &QPushButton::clicked, this, &TPanelForm::BitBtn1Click);

  FooterStatusBar = new TStatusBar(layout.statusPanels, client_);
  NameControl(FooterStatusBar, "FooterStatusBar", QStringLiteral("Состояние связи"));

  CopyPopupMenu = new QMenu(this);
  CopyPopupMenu->setObjectName(QStringLiteral("CopyPopupMenu"));
  QAction* copy = CopyPopupMenu->addAction(layout.copyItemText);
  copy->setObjectName(QStringLiteral("CopyToClipBoard"));
  connect(copy, &QAction::triggered, this, &TPanelForm::CopyToClipBoardClick);
  if (layout.saveInScreenMenu) {
    QAction* save = CopyPopupMenu->addAction(QStringLiteral("Сохранить в файл"));
    save->setObjectName(QStringLiteral("SaveToFile"));
    connect(save, &QAction::triggered, this, &TPanelForm::SaveToFileClick);
  }
  // F10 opens the menu bar, where the program has one, as on other desktops.
  auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(menuKey, &QShortcut::activated, this, [this] {
    auto* bar = qobject_cast<QMenuBar*>(menuWidget());
    if (bar && !bar->actions().isEmpty()) bar->setActiveAction(bar->actions().constFirst());
  });

  DXDraw->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(DXDraw, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { CopyPopupMenu->popup(DXDraw->mapToGlobal(at)); });
  // The PC's keys stand for the panel's while the screen has the focus: the same handlers run.
  connect(DXDraw, &TDXDraw::panelKey, this, [this](PanelControl control) {
    QAbstractButton* key = nullptr;
    switch (control) {
      case PanelControl::Escape:
        key = EscapeSpeedButton;
        break;
      case PanelControl::Enter:
        key = EnterSpeedButton;
        break;
      case PanelControl::Up:
        key = UpSpeedButton;
        break;
      case PanelControl::Down:
        key = DownSpeedButton;
        break;
      case PanelControl::Left:
        key = LeftSpeedButton;
        break;
      case PanelControl::Right:
        key = RightSpeedButton;
        break;
      default:
        break;
    }
    if (key && key->isEnabled() && key->isVisibleTo(this)) key->click();
  });
}

// The program stops the link before it destroys this window, so no packet comes any more.
TPanelForm::~TPanelForm() { DXDrawFinalize(); }

QToolButton* TPanelForm::MakeKey(const char* name, PanelControl control) {
  auto* button = new QToolButton(client_);
  const PanelCommand c = PanelCommandFor(control);
  QString accessible = c.label.toString();
  switch (control) {
    case PanelControl::Enter:
    case PanelControl::Escape:
      button->setText(accessible);
      break;
    case PanelControl::Up:
      button->setIcon(PanelGlyph(Glyph::kUp));
      accessible = QStringLiteral("Вверх");
      break;
    case PanelControl::Down:
      button->setIcon(PanelGlyph(Glyph::kDown));
      accessible = QStringLiteral("Вниз");
      break;
    case PanelControl::Left:
      button->setIcon(PanelGlyph(Glyph::kLeft));
      accessible = QStringLiteral("Влево");
      break;
    case PanelControl::Right:
      button->setIcon(PanelGlyph(Glyph::kRight));
      accessible = QStringLiteral("Вправо");
      break;
    case PanelControl::Restart:
      button->setIcon(PanelGlyph(Glyph::kRestart));
      button->setToolTip(accessible);
      break;
    case PanelControl::KeyLock:
      button->setIcon(PanelGlyph(Glyph::kLock));
      button->setToolTip(accessible);
      break;
  }
  NameControl(button, name, accessible);
  button->setAutoRepeat(false);
  if (control == PanelControl::KeyLock) {
    // Latches: down locks the keyboard. Every change of state sends its command, however the
    // button is operated (a click, Space, a screen reader's Toggle action).
    button->setCheckable(true);
    connect(button, &QToolButton::toggled, this, &TPanelForm::UnLocButtomsSpeedButtonClick);
    return button;
  }
  connect(button, &QToolButton::clicked, this, [this, control] {
    switch (control) {
      case PanelControl::Enter:
        EnterSpeedButtonClick();
        break;
      case PanelControl::Escape:
        EscapeSpeedButtonClick();
        break;
      case PanelControl::Up:
        UpSpeedButtonClick();
        break;
      case PanelControl::Down:
        DownSpeedButtonClick();
        break;
      case PanelControl::Left:
        LeftSpeedButtonClick();
        break;
      case PanelControl::Right:
        RightSpeedButtonClick();
        break;
      case PanelControl::Restart:
        ReStartSpeedButtonClick();
        break;
      case PanelControl::KeyLock:
        break;
    }
  });
  return button;
}

void TPanelForm::SetLink(LinkController* link) {
  if (link_) disconnect(link_, nullptr, this, nullptr);
  link_ = link;
  if (link_)
    connect(link_, &LinkController::instrumentsChanged, this, &TPanelForm::UpdateLiveState);
  UpdateLiveState();
}

void TPanelForm::UpdateLiveState() {
  const bool live = !link_ || !link_->Instruments().isEmpty();
  DXDraw->SetOfflineText(live ? QString() : FooterStatusBar->PanelText(0));
}

void TPanelForm::DrawScreenPacket(const Packet& streamPacket) {
  surface_.DrawScreenPacket(streamPacket);
}

void TPanelForm::SetStatusPanel(int panel, const QString& text) {
  FooterStatusBar->SetPanelText(panel, VisibleText(text));  // panel 0 names the device
  if (panel == 0) UpdateLiveState();
}

void TPanelForm::DXDrawInitialize() { surface_.Initialize(); }

void TPanelForm::DXDrawFinalize() { surface_.Finalize(); }

void TPanelForm::InvColorCheckBoxClick() { surface_.FillClear(); }

void TPanelForm::ScreenClearSpeedButtonClick() { surface_.FillClear(); }

void TPanelForm::SendPanelCommand(QAbstractButton* button, PanelControl control) {
  // Disabled for the duration of its own command; the link logs the outcome.
  button->setEnabled(false);
  const PanelCommand c = PanelCommandFor(control, button->isChecked());
  if (link_) link_->SendCommand(c.command, c.data);
  button->setEnabled(true);
}

void TPanelForm::EnterSpeedButtonClick() {
  SendPanelCommand(EnterSpeedButton, PanelControl::Enter);
}
void TPanelForm::EscapeSpeedButtonClick() {
  SendPanelCommand(EscapeSpeedButton, PanelControl::Escape);
}
void TPanelForm::UpSpeedButtonClick() { SendPanelCommand(UpSpeedButton, PanelControl::Up); }
void TPanelForm::DownSpeedButtonClick() { SendPanelCommand(DownSpeedButton, PanelControl::Down); }
void TPanelForm::LeftSpeedButtonClick() { SendPanelCommand(LeftSpeedButton, PanelControl::Left); }
void TPanelForm::RightSpeedButtonClick() {
  SendPanelCommand(RightSpeedButton, PanelControl::Right);
}
void TPanelForm::ReStartSpeedButtonClick() {
  SendPanelCommand(ReStartSpeedButton, PanelControl::Restart);
}
void TPanelForm::UnLocButtomsSpeedButtonClick() {
  SendPanelCommand(UnLocButtomsSpeedButton, PanelControl::KeyLock);
}

void TPanelForm::SaveToFileClick() {
  // No packet may change the picture while it is taken and the dialog is open.
  const bool wasDrawing = DrawCheckBox->isChecked();
  DrawCheckBox->setChecked(false);
  QCoreApplication::processEvents();
  const QImage picture = surface_.BackBuffer().copy();

  QFileDialog dialog(this, QStringLiteral("Сохранить в файл"));
  dialog.setObjectName(QStringLiteral("SavePictureDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(PictureFilters());
  dialog.setDefaultSuffix(QStringLiteral("bmp"));
  dialog.selectFile(QStringLiteral("NoName.bmp"));
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    const QString path = dialog.selectedFiles().constFirst();
    const FileWriteResult written = SaveBmpFile(picture, path);
    if (!written) {
      const QString text =
          written.failedAt == FileWriteResult::Stage::kWrite
              ? QStringLiteral("Stream write error\r") + written.message()
              : QStringLiteral("Cannot create file %1\r%2").arg(path, written.reason);
      ShowMessageBox(this, BoxKind::kApplicationError, text);
    }
  }
  DrawCheckBox->setChecked(wasDrawing);
}

void TPanelForm::CopyToClipBoardClick() {
  QApplication::clipboard()->setImage(surface_.BackBuffer().copy());
}

void TPanelForm::BitBtn1Click() {
  if (!linkWindow_) return;
  linkWindow_->show();
  linkWindow_->raise();
  linkWindow_->activateWindow();
}

void TPanelForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  CentreOnScreen(this);
  // The tiles are built on the first showing, before the link can start the stream.
  DXDrawInitialize();
}

void TPanelForm::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    // The reader stops before the surface and its tiles go, so nothing draws into them.
    if (closeHandler_) closeHandler_();
    DXDrawFinalize();
  }
  event->accept();
  QCoreApplication::quit();  // closing the main window ends the program
}

}  // namespace kd735
