#include "files/picture.h"

namespace kd735 {

QColor PictureBackground(bool inverted) {
  return inverted ? QColor(255, 255, 255) : QColor(0, 0, 0);
}

QColor PictureLit(bool inverted) { return inverted ? QColor(0, 0, 255) : QColor(255, 255, 0); }

QImage RenderPicture(RecordView record, bool inverted) {
  QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  const QRgb background = PictureBackground(inverted).rgb();
  const QRgb lit = PictureLit(inverted).rgb();
  image.fill(background);

  for (int c = 0; c < kRecordPictureColumns; ++c) {
    const std::uint8_t* column = record.data() + field::kPictureData + 8 * c;
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | column[i];
    for (int r = 0; r < kRecordPictureRows; ++r) {
      image.setPixel(c + kPictureMargin, r + kPictureMargin, (v >> r & 1) ? lit : background);
    }
  }

  const QRgb frame = kPictureFrame.rgb();
  for (int x = 0; x < kPictureWidth; ++x) {
    image.setPixel(x, 0, frame);
    image.setPixel(x, kPictureHeight - 1, frame);
  }
  for (int y = 0; y < kPictureHeight; ++y) {
    image.setPixel(0, y, frame);
    image.setPixel(kPictureWidth - 1, y, frame);
  }
  return image;
}

}  // namespace kd735
