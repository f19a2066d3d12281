#include "apps/virtual/message_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "apps/common/form_kit.h"
#include "panel/screen_message.h"
#include "panel/screen_message_sender.h"

namespace kd735::virtual_app {

TUSBMessageForm::TUSBMessageForm(QWidget* parent)
    : TFixedWindow(QStringLiteral("USBMessageForm"), kScreenMessageCaption.toString(),
                   QSize(345, 92), parent) {
  USBMessageMaskEdit = new QLineEdit(kScreenMessageDefaultText.toString(), this);
  NameControl(USBMessageMaskEdit, "USBMessageMaskEdit", QStringLiteral("Текст сообщения"));
  USBMessageMaskEdit->setMaxLength(kScreenMessageMaxChars);
  USBMessageMaskEdit->setGeometry(10, 12, 325, 26);

  auto* timeLabel = new QLabel(kScreenMessageTimeLabel.toString(), this);
  timeLabel->setObjectName(QStringLiteral("TimeLabel"));
  QFont bold = timeLabel->font();
  bold.setBold(true);
  timeLabel->setFont(bold);
  timeLabel->setGeometry(10, 52, 90, 26);

  TimeSpinEdit = new QSpinBox(this);
  NameControl(TimeSpinEdit, "TimeSpinEdit", kScreenMessageTimeLabel.toString().trimmed());
  TimeSpinEdit->setRange(kScreenMessageMinSeconds, kScreenMessageMaxSeconds);
  TimeSpinEdit->setValue(kScreenMessageDefaultSeconds);
  // Changed only with its arrows or the arrow keys, never typed.
  if (auto* edit = TimeSpinEdit->findChild<QLineEdit*>()) edit->setReadOnly(true);
  timeLabel->setBuddy(TimeSpinEdit);
  TimeSpinEdit->setGeometry(104, 52, 60, 26);

  USBMessageSpeedButton = new QPushButton(kScreenMessageSendText.toString(), this);
  NameControl(USBMessageSpeedButton, "USBMessageSpeedButton");
  USBMessageSpeedButton->setToolTip(kScreenMessageSendHint.toString());
  USBMessageSpeedButton->setGeometry(235, 50, 100, 30);
  connect(USBMessageSpeedButton, &QPushButton::clicked, this,
          &TUSBMessageForm::USBMessageSpeedButtonClick);
}

void TUSBMessageForm::USBMessageSpeedButtonClick() {
  USBMessageSpeedButton->setEnabled(false);
  if (link_) SendScreenMessage(*link_, TimeSpinEdit->value(), USBMessageMaskEdit->text());
  USBMessageSpeedButton->setEnabled(true);
}

}  // namespace kd735::virtual_app
