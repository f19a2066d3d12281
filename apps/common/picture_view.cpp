#include "apps/common/picture_view.h"

#include <QPainter>
#include <cmath>

#include "apps/common/form_kit.h"
#include "panel/whole_pixels.h"

namespace kd735 {

TPictureView::TPictureView(const ScreenGeometry& geometry, QWidget* parent)
    : QWidget(parent), geometry_(geometry) {
  setFixedSize(geometry.width, geometry.height);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPictureView::SetPicture(const QImage& picture) {
  picture_ = picture;  // shared until its owner draws into it again
  update();
}

void TPictureView::SetOfflineText(const QString& text) {
  if (text == offlineText_) return;
  offlineText_ = text;
  update();
}

void TPictureView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), DocumentPage());
  if (picture_.isNull()) return;

  // Work in the device pixels this widget covers wholly: a widget is only scaled and shifted.
  const QTransform toDevice = p.deviceTransform();
  const qreal ratio = toDevice.m11() > 0 ? toDevice.m11() : 1.0;
  const QRectF device = toDevice.mapRect(QRectF(rect()));
  const int left = int(std::ceil(device.left() - 1e-6));
  const int top = int(std::ceil(device.top() - 1e-6));
  const QSize available(int(std::floor(device.right() + 1e-6)) - left,
                        int(std::floor(device.bottom() + 1e-6)) - top);
  const int k = WholePixelScale(geometry_, available);
  if (k != scaledK_ || picture_.cacheKey() != scaledKey_) {
    scaled_ = ScaleToWholePixels(picture_, geometry_, k);
    scaledK_ = k;
    scaledKey_ = picture_.cacheKey();
  }
  pixelScale_ = k;
  const QPoint at(left + (available.width() - scaled_.width()) / 2,
                  top + (available.height() - scaled_.height()) / 2);
  QImage shown = scaled_;
  shown.setDevicePixelRatio(ratio);  // one image pixel on one device pixel
  const QTransform toLogical = toDevice.inverted();
  pictureRect_ = toLogical.mapRect(QRectF(at, scaled_.size()));
  p.drawImage(pictureRect_.topLeft(), shown);

  if (offlineText_.isEmpty()) return;
  // Not live: the last picture greyed, the link state over it.
  p.fillRect(pictureRect_, QColor(128, 128, 128, 170));
  QFont bold = font();
  bold.setBold(true);
  p.setFont(bold);
  const QRectF area = pictureRect_.adjusted(4, 4, -4, -4);
  const QRectF text =
      p.boundingRect(area, Qt::AlignCenter | Qt::TextWordWrap, offlineText_).adjusted(-4, -2, 4, 2);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 200));
  p.drawRoundedRect(text.intersected(pictureRect_), 3, 3);
  p.setPen(Qt::white);
  p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, offlineText_);
}

}  // namespace kd735
