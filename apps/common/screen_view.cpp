#include "apps/common/screen_view.h"

#include <QKeyEvent>
#include <QPainter>

namespace kd735 {

TDXDraw::TDXDraw(QSize size, QWidget* parent)
    : QWidget(parent), presented_(size, QImage::Format_RGB32) {
  presented_.fill(Qt::black);
  setObjectName(QStringLiteral("DXDraw"));
  setAccessibleName(QStringLiteral("Экран прибора"));
  setAccessibleDescription(QStringLiteral(
      "Живое изображение экрана КД735. Esc, Enter и стрелки работают как кнопки панели"));
  setFixedSize(size);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TDXDraw::Present(const QImage& picture) {
  presented_ = picture;  // shared until the surface draws into its buffer again
  update();
}

void TDXDraw::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, presented_);
  if (hasFocus()) {
    // A thin focus mark inside the border, so keyboard users see where the keys go.
    p.setPen(QPen(QColor(0, 160, 255), 1, Qt::DotLine));
    p.drawRect(rect().adjusted(1, 1, -2, -2));
  }
  ++paints_;
}

void TDXDraw::keyPressEvent(QKeyEvent* event) {
  if (event->isAutoRepeat()) {
    event->accept();  // one key press sends one command, as on the panel
    return;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      Q_EMIT panelKey(PanelControl::Escape);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Q_EMIT panelKey(PanelControl::Enter);
      break;
    case Qt::Key_Up:
      Q_EMIT panelKey(PanelControl::Up);
      break;
    case Qt::Key_Down:
      Q_EMIT panelKey(PanelControl::Down);
      break;
    case Qt::Key_Left:
      Q_EMIT panelKey(PanelControl::Left);
      break;
    case Qt::Key_Right:
      Q_EMIT panelKey(PanelControl::Right);
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

}  // namespace kd735
