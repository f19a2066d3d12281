#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "panel/screen_tiles.h"

namespace kd735 {

// A picture of the instrument's screen (the live screen, a file's picture), drawn with a whole
// number of device pixels per instrument pixel, the largest that fits, centred on a light page.
// While there is no link it can show the picture dimmed with a text over it; the picture itself,
// the one saved and copied, stays as it is.
class TPictureView : public QWidget {
  Q_OBJECT

 public:
  TPictureView(const ScreenGeometry& geometry, QWidget* parent = nullptr);

  void SetPicture(const QImage& picture);
  const QImage& Picture() const { return picture_; }

  // A non-empty text dims the picture and shows the text over it; an empty one shows it plainly.
  void SetOfflineText(const QString& text);
  const QString& OfflineText() const { return offlineText_; }

  // Device pixels per instrument pixel at the last painting.
  int PixelScale() const { return pixelScale_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Where the picture went at the last painting, in the widget's coordinates.
  QRectF PictureRect() const { return pictureRect_; }

 private:
  ScreenGeometry geometry_;
  QImage picture_;
  QString offlineText_;
  QImage scaled_;  // the picture at scaledK_, kept while neither changes
  qint64 scaledKey_ = 0;
  int scaledK_ = 0;
  int pixelScale_ = 0;
  QRectF pictureRect_;
};

}  // namespace kd735
