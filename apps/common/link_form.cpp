#include "apps/common/link_form.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "apps/common/form_kit.h"
#include "apps/common/panel_form.h"
#include "files/file_record.h"

namespace kd735 {

namespace {

// The stream buttons act only through the connection sequence: nothing enables them.
QPushButton* StreamButton(const QString& text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  NameControl(b, name);
  b->setEnabled(false);
  return b;
}

// Runs an action with its own button disabled meanwhile, then as it was.
template <typename Action>
void WithButtonDisabled(QPushButton* button, Action action) {
  const bool enabled = button->isEnabled();
  button->setEnabled(false);
  action();
  button->setEnabled(enabled);
}

}  // namespace

TLinkForm::TLinkForm(UsbBus& bus, LinkController::FrameHandler frames, StatusSink status,
                     bool virtualProgram, QWidget* parent)
    : TFixedWindow(QStringLiteral("LinkForm"), QStringLiteral("События USB "), QSize(324, 457),
                   parent),
      link_(bus, std::move(frames)),
      virtualProgram_(virtualProgram) {
  UDCountRadioGroup = new QGroupBox(QStringLiteral("Подключенные приборы КД735"), this);
  UDCountRadioGroup->setObjectName(QStringLiteral("UDCountRadioGroup"));
  UDCountRadioGroup->setGeometry(4, 4, 200, 120);
  radioLayout_ = new QVBoxLayout(UDCountRadioGroup);
  radioLayout_->setContentsMargins(6, 4, 6, 4);
  radioLayout_->setSpacing(2);
  radioLayout_->addStretch(1);
  radioButtons_ = new QButtonGroup(this);
  connect(radioButtons_, &QButtonGroup::idClicked, this, &TLinkForm::UDCountRadioGroupClick);

  auto* streamLabel = new QLabel(QStringLiteral("Поток данных USB"), this);
  streamLabel->setObjectName(QStringLiteral("StreamLabel"));
  streamLabel->setGeometry(212, 6, 108, 16);
  CreateThreadButton = StreamButton(QStringLiteral("Создать"), "CreateThreadButton", this);
  ResumeThreadBitBtn = StreamButton(QStringLiteral("Продолжить"),
                                    virtualProgram ? "BitBtn1" : "ResumeThreadBitBtn", this);
  SuspendThreadBitBtn = StreamButton(QStringLiteral("Остановить"),
                                     virtualProgram ? "BitBtn2" : "SuspendThreadBitBtn", this);
  DestroyThreadButton = StreamButton(QStringLiteral("Разрушить"), "DestroyThreadButton", this);
  int y = 24;
  for (QPushButton* b :
       {CreateThreadButton, ResumeThreadBitBtn, SuspendThreadBitBtn, DestroyThreadButton}) {
    b->setGeometry(212, y, 104, 24);
    y += 25;
  }
  connect(CreateThreadButton, &QPushButton::clicked, this, &TLinkForm::CreateThreadButtonClick);
  connect(ResumeThreadBitBtn, &QPushButton::clicked, this, &TLinkForm::ResumeThreadBitBtnClick);
  connect(SuspendThreadBitBtn, &QPushButton::clicked, this, &TLinkForm::SuspendThreadBitBtnClick);
  connect(DestroyThreadButton, &QPushButton::clicked, this, &TLinkForm::DestroyThreadButtonClick);

  Memo = new QPlainTextEdit(this);
  NameControl(Memo, "Memo", QStringLiteral("Журнал событий USB"));
  Memo->setReadOnly(true);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setGeometry(0, 129, 324, 457 - 129 - 40);

  SpeedButton1 = new QPushButton(QStringLiteral("Свойства"), this);
  NameControl(SpeedButton1, "SpeedButton1");
  ClearMemoBitBtn = new QPushButton(QStringLiteral("Очистить"), this);
  NameControl(ClearMemoBitBtn, "ClearMemoBitBtn");
  SpeedButton = new QPushButton(QStringLiteral("Закрыть"), this);
  NameControl(SpeedButton, "SpeedButton");
  int x = 6;
  for (QPushButton* b : {SpeedButton1, ClearMemoBitBtn, SpeedButton}) {
    b->setGeometry(x, 457 - 34, 98, 28);
    x += 106;
  }
  connect(SpeedButton1, &QPushButton::clicked, this, &TLinkForm::SpeedButton1Click);
  connect(ClearMemoBitBtn, &QPushButton::clicked, this, &TLinkForm::ClearMemoBitBtnClick);
  connect(SpeedButton, &QPushButton::clicked, this, &TLinkForm::SpeedButtonClick);

  // The log, the instruments and the main window's footer follow the link as it changes.
  connect(&link_, &LinkController::lineAdded, this, &TLinkForm::AppendLine);
  connect(&link_, &LinkController::logCleared, Memo, &QPlainTextEdit::clear);
  connect(&link_, &LinkController::instrumentsChanged, this, &TLinkForm::RefillInstruments);
  if (status) connect(&link_, &LinkController::statusTextChanged, this, status);

  FormCreate();
}

TLinkForm::~TLinkForm() { link_.Shutdown(); }

void TLinkForm::FormCreate() { link_.Start(); }

void TLinkForm::AppendLine(const QString& line) {
  // Device strings come from the devices themselves: no control character reaches the screen.
  Memo->appendPlainText(VisibleText(line));
  QScrollBar* bar = Memo->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TLinkForm::RefillInstruments() {
  for (QAbstractButton* b : radioButtons_->buttons()) {
    radioButtons_->removeButton(b);
    delete b;
  }
  const QStringList& items = link_.Instruments();
  for (int i = 0; i < items.size(); ++i) {
    auto* radio = new QRadioButton(VisibleText(items[i]), UDCountRadioGroup);
    radio->setObjectName(QStringLiteral("Instrument%1").arg(i));
    radioButtons_->addButton(radio, i);
    radioLayout_->insertWidget(i, radio);
  }
  if (QAbstractButton* selected = radioButtons_->button(link_.SelectedInstrument()))
    selected->setChecked(true);
}

void TLinkForm::UDCountRadioGroupClick(int index) { link_.SelectInstrument(index); }

void TLinkForm::CreateThreadButtonClick() {
  WithButtonDisabled(CreateThreadButton, [this] { link_.StartStream(link_.LinkDevicePath()); });
}
void TLinkForm::ResumeThreadBitBtnClick() {
  WithButtonDisabled(ResumeThreadBitBtn, [this] { link_.ResumeStream(); });
}
void TLinkForm::SuspendThreadBitBtnClick() {
  WithButtonDisabled(SuspendThreadBitBtn, [this] { link_.SuspendStream(); });
}
void TLinkForm::DestroyThreadButtonClick() {
  WithButtonDisabled(DestroyThreadButton, [this] { link_.StopStream(); });
}

void TLinkForm::SpeedButton1Click() { link_.ShowProperties(virtualProgram_); }

void TLinkForm::ClearMemoBitBtnClick() { link_.ClearLog(); }

void TLinkForm::SpeedButtonClick() { hide(); }

std::unique_ptr<TLinkForm> MakeLinkWindow(UsbBus& bus, TPanelForm& main, bool virtualProgram) {
  auto link = std::make_unique<TLinkForm>(
      bus, [&main](const Packet& packet) { main.DrawScreenPacket(packet); },
      [&main](int panel, const QString& text) { main.SetStatusPanel(panel, text); },
      virtualProgram);
  main.SetLink(&link->Link());
  main.SetLinkWindow(link.get());
  return link;
}

}  // namespace kd735
