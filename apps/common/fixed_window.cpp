#include "apps/common/fixed_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
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

void TFixedWindow::keyPressEvent(QKeyEvent* event) {
  // Esc hides the window as its close box does, whichever of its controls has the focus.
  if (event->matches(QKeySequence::Cancel)) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TFixedWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  CentreOnScreen(this);
}

}  // namespace kd735
