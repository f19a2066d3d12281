#include "apps/common/status_bar.h"

#include <QHBoxLayout>
#include <QLabel>

namespace kd735 {

TStatusBar::TStatusBar(const QList<Panel>& panels, QWidget* parent) : QFrame(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 1, 0, 1);
  layout->setSpacing(2);
  for (qsizetype i = 0; i < panels.size(); ++i) {
    auto* label = new QLabel(panels[i].text, this);
    label->setObjectName(QStringLiteral("Panel%1").arg(i));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(panels[i].alignment | Qt::AlignVCenter);
    label->setTextFormat(Qt::PlainText);
    // As in a status bar of the system, the last panel runs on to the right edge.
    const bool last = i + 1 == panels.size();
    if (last)
      label->setMinimumWidth(panels[i].width);
    else
      label->setFixedWidth(panels[i].width);
    layout->addWidget(label, last ? 1 : 0);
    labels_ << label;
  }
}

void TStatusBar::SetPanelText(int panel, const QString& text) {
  if (QLabel* label = labels_.value(panel)) {
    label->setText(text);
    label->repaint();  // the rates are shown at once, not at the next idle moment
  }
}

QString TStatusBar::PanelText(int panel) const {
  const QLabel* label = labels_.value(panel);
  return label ? label->text() : QString();
}

}  // namespace kd735
