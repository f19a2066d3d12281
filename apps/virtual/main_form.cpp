#include "apps/virtual/main_form.h"

#include <QCheckBox>
#include <QFrame>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>

#include "apps/common/form_kit.h"
#include "apps/common/simulator_menu.h"

namespace kd735::virtual_app {

namespace {

constexpr QSize kClientSize(286, 394);
constexpr int kFooterHeight = 22;

TPanelForm::Layout VirtualLayout() {
  return {2,
          QStringLiteral("Копировать"),
          false,
          {{110, Qt::AlignHCenter, QStringLiteral("Нет связи с КД734 ??")},
           {95, Qt::AlignHCenter, QStringLiteral("Поток данных")},
           {50, Qt::AlignLeft, QStringLiteral("Пакет 64 байт")}}};
}

}  // namespace

TMainForm::TMainForm(sim::SimulatedBus* simulated, QWidget* parent)
    : TPanelForm(VirtualLayout(), parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral(" Виртуальный толщиномер КД735 "));

  // Mnemonics and the desktop's standard shortcuts; the captions read as they always did.
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  file->setObjectName(QStringLiteral("FileMenu"));
  QAction* save = file->addAction(QStringLiteral("&Сохранить"), QKeySequence::Save, this,
                                  &TMainForm::SaveToFileClick);
  save->setObjectName(QStringLiteral("SaveToFile"));
  file->addSeparator();
  QAction* quit = file->addAction(QStringLiteral("&Выход"), this, &TMainForm::N4Click);
  quit->setObjectName(QStringLiteral("N4"));
  // Ctrl+Q where the desktop's key scheme names no quit key (the Windows one).
  QList<QKeySequence> quitKeys = QKeySequence::keyBindings(QKeySequence::Quit);
  if (quitKeys.isEmpty()) quitKeys << QKeySequence(Qt::CTRL | Qt::Key_Q);
  quit->setShortcuts(quitKeys);
  if (simulated) menuBar()->addMenu(new SimulatorMenu(*simulated, this));

  DXDraw->move(11, 6);
  DrawCheckBox->setGeometry(12, 146, 130, 20);
  InvColorCheckBox->setGeometry(148, 146, 130, 20);
  EnterSpeedButton->setGeometry(8, 174, 76, 40);
  EscapeSpeedButton->setGeometry(202, 174, 76, 40);
  const QSize arrow(44, 36);
  UpSpeedButton->setGeometry(QRect(QPoint(121, 172), arrow));
  LeftSpeedButton->setGeometry(QRect(QPoint(73, 212), arrow));
  RightSpeedButton->setGeometry(QRect(QPoint(169, 212), arrow));
  DownSpeedButton->setGeometry(QRect(QPoint(121, 252), arrow));
  for (QToolButton* b : {UpSpeedButton, DownSpeedButton, LeftSpeedButton, RightSpeedButton})
    b->setIconSize(QSize(24, 24));
  QFont big = EnterSpeedButton->font();
  big.setPointSize(big.pointSize() + 2);
  big.setBold(true);
  EnterSpeedButton->setFont(big);
  EscapeSpeedButton->setFont(big);

  BottomPanel = new QFrame(Client());
  BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
  BottomPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  BottomPanel->setGeometry(4, 300, 278, 48);

  USBMessageSpeedButton = new QToolButton(BottomPanel);
  NameControl(USBMessageSpeedButton, "USBMessageSpeedButton", QStringLiteral("Послать сообщение"));
  USBMessageSpeedButton->setToolTip(QStringLiteral("Послать сообщение"));
  USBMessageSpeedButton->setIcon(PanelGlyph(Glyph::kMessage));
  connect(USBMessageSpeedButton, &QToolButton::clicked, this,
          &TMainForm::USBMessageSpeedButtonClick);

  ReStartSpeedButton->setParent(BottomPanel);
  UnLocButtomsSpeedButton->setParent(BottomPanel);
  ScreenClearSpeedButton->setParent(BottomPanel);
  BitBtn1->setParent(BottomPanel);
  int x = 8;
  for (QToolButton* b : {ReStartSpeedButton, USBMessageSpeedButton, UnLocButtomsSpeedButton,
                         ScreenClearSpeedButton}) {
    b->setGeometry(x, 6, 34, 34);
    b->setIconSize(QSize(24, 24));
    x += 38;
  }
  BitBtn1->setGeometry(8 + 4 * 38 + 4, 8, 110, 30);

  Footer()->setGeometry(0, kClientSize.height() - kFooterHeight, kClientSize.width(),
                        kFooterHeight);

  // Tab follows the layout: row by row, left to right, the bottom panel last.
  QWidget* order[] = {DXDraw,
                      DrawCheckBox,
                      InvColorCheckBox,
                      EnterSpeedButton,
                      UpSpeedButton,
                      EscapeSpeedButton,
                      LeftSpeedButton,
                      RightSpeedButton,
                      DownSpeedButton,
                      ReStartSpeedButton,
                      USBMessageSpeedButton,
                      UnLocButtomsSpeedButton,
                      ScreenClearSpeedButton,
                      BitBtn1};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  Client()->setFixedSize(kClientSize);
  MakeFixedWindow(
      this, QSize(kClientSize.width(), kClientSize.height() + menuBar()->sizeHint().height()));
}

TMainForm::~TMainForm() = default;

void TMainForm::USBMessageSpeedButtonClick() {
  if (!messageWindow_) return;
  messageWindow_->show();
  messageWindow_->raise();
  messageWindow_->activateWindow();
  messageWindow_->setFocus();
}

void TMainForm::N4Click() { close(); }

}  // namespace kd735::virtual_app
