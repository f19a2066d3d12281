#include "apps/common/fixed_window.h"

#include <QCloseEvent>
#include <QShowEvent>

#include "apps/common/form_kit.h"

namespace kd735 {

TFixedWindow::TFixedWindow(const QString& objectName, const QString& caption, QSize client,
                           QWidget* parent)
    : QWidget(parent) {
  setObjectName(objectName);
  setWindowTitle(caption);
  setFont(PageFont());
  setAttribute(Qt::WA_QuitOnClose, false);
  MakeFixedWindow(this, client);
}

void TFixedWindow::closeEvent(QCloseEvent* event) {
  hide();
  event->ignore();
}

void TFixedWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  CentreOnScreen(this);
}

}  // namespace kd735
