#include "apps/report/main_form.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include "apps/common/form_kit.h"
#include "apps/common/simulator_menu.h"

namespace kd735::report_app {

namespace {

constexpr QSize kClientSize(792, 509);
constexpr int kColumnWidth = 154;
constexpr int kFooterHeight = 22;

TPanelForm::Layout ReportLayout() {
  return {1,
          QStringLiteral("Копировать в буфер обмена"),
          true,
          {{150, Qt::AlignHCenter, QStringLiteral("Нет связи с КД734 ??")},
           {90, Qt::AlignHCenter, QStringLiteral("Поток данных")},
           {50, Qt::AlignLeft, QStringLiteral("Пакет 64 байт")}}};
}

}  // namespace

TMainForm::TMainForm(sim::SimulatedBus* simulated, QWidget* parent)
    : TPanelForm(ReportLayout(), parent) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("  Генератор отчетов ультразвукового толщиномера КД735 "));
  QWidget* client = Client();

  // Left column: the virtual instrument.
  VirtualKDGroupBox = new QGroupBox(QStringLiteral("Виртуальный толщиномер"), client);
  VirtualKDGroupBox->setObjectName(QStringLiteral("VirtualKDGroupBox"));
  VirtualKDGroupBox->setGeometry(2, 2, kColumnWidth - 4, 372);
  for (QWidget* w : std::initializer_list<QWidget*>{
           DXDraw, DrawCheckBox, InvColorCheckBox, EnterSpeedButton, EscapeSpeedButton,
           UpSpeedButton, DownSpeedButton, LeftSpeedButton, RightSpeedButton})
    w->setParent(VirtualKDGroupBox);
  DXDraw->move(7, 22);
  DrawCheckBox->setGeometry(8, 98, 134, 20);
  InvColorCheckBox->setGeometry(8, 120, 134, 20);
  EnterSpeedButton->setGeometry(7, 146, 66, 32);
  EscapeSpeedButton->setGeometry(77, 146, 66, 32);
  const QSize arrow(40, 34);
  UpSpeedButton->setGeometry(QRect(QPoint(55, 184), arrow));
  LeftSpeedButton->setGeometry(QRect(QPoint(12, 220), arrow));
  RightSpeedButton->setGeometry(QRect(QPoint(98, 220), arrow));
  DownSpeedButton->setGeometry(QRect(QPoint(55, 256), arrow));
  for (QToolButton* b : {UpSpeedButton, DownSpeedButton, LeftSpeedButton, RightSpeedButton})
    b->setIconSize(QSize(22, 22));

  BottomPanel = new QFrame(VirtualKDGroupBox);
  BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
  BottomPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  BottomPanel->setGeometry(5, 298, 140, 68);
  ReStartSpeedButton->setParent(BottomPanel);
  UnLocButtomsSpeedButton->setParent(BottomPanel);
  ScreenClearSpeedButton->setParent(BottomPanel);
  BitBtn1->setParent(BottomPanel);
  int x = 6;
  for (QToolButton* b : {ReStartSpeedButton, UnLocButtomsSpeedButton, ScreenClearSpeedButton}) {
    b->setGeometry(x, 4, 30, 30);
    b->setIconSize(QSize(22, 22));
    x += 34;
  }
  BitBtn1->setGeometry(4, 37, 132, 27);

  // The footer runs along the whole bottom edge, so that all three panels can be read.
  Footer()->setParent(client);
  Footer()->setGeometry(0, kClientSize.height() - kFooterHeight, kClientSize.width(),
                        kFooterHeight);

  // Right side: the report's two pages.
  PageControl = new QTabWidget(client);
  PageControl->setObjectName(QStringLiteral("PageControl"));
  PageControl->setGeometry(kColumnWidth, 2, kClientSize.width() - kColumnWidth - 2,
                           kClientSize.height() - kFooterHeight - 4);
  CreateMSWordDocumentTabSheet = new QWidget(PageControl);
  CreateMSWordDocumentTabSheet->setObjectName(QStringLiteral("CreateMSWordDocumentTabSheet"));
  TxDataToMSWordTabSheet = new QWidget(PageControl);
  TxDataToMSWordTabSheet->setObjectName(QStringLiteral("TxDataToMSWordTabSheet"));
  PageControl->addTab(CreateMSWordDocumentTabSheet,
                      QStringLiteral("  Создать документ MS Word, настройки  "));
  PageControl->addTab(TxDataToMSWordTabSheet, QStringLiteral("  Передать данные в документ  "));
  PageControl->setCurrentIndex(0);

  if (simulated) menuBar()->addMenu(new SimulatorMenu(*simulated, this));
  // The client area keeps its size; a menu bar (simulation only) comes on top of it.
  client->setFixedSize(kClientSize);
  MakeFixedWindow(this,
                  QSize(kClientSize.width(),
                        kClientSize.height() + (simulated ? menuBar()->sizeHint().height() : 0)));

  FormCreate();
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate() {}

}  // namespace kd735::report_app
