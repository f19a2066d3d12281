#include "apps/common/screen_view.h"

#include <QKeyEvent>
#include <QPainter>

namespace kd735 {

TDXDraw::TDXDraw(const ScreenGeometry& geometry, QWidget* parent) : TPictureView(geometry, parent) {
  QImage black(geometry.width, geometry.height, QImage::Format_RGB32);
  black.fill(Qt::black);
  SetPicture(black);
  setObjectName(QStringLiteral("DXDraw"));
  setAccessibleName(QStringLiteral("Экран прибора"));
  setAccessibleDescription(QStringLiteral(
      "Живое изображение экрана КД735. Esc, Enter и стрелки работают как кнопки панели"));
  setFocusPolicy(Qt::StrongFocus);
}

void TDXDraw::paintEvent(QPaintEvent* event) {
  TPictureView::paintEvent(event);
  if (hasFocus()) {
    // A thin focus mark inside the border, so keyboard users see where the keys go.
    QPainter p(this);
    p.setPen(QPen(QColor(0, 160, 255), 1, Qt::DotLine));
    p.drawRect(PictureRect().adjusted(1, 1, -2, -2));
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
