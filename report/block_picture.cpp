#include "report/block_picture.h"

#include <QCryptographicHash>
#include <QList>

#include "files/bitmap_file.h"

namespace kd735 {

namespace {

constexpr qsizetype kCachedPictures = 64;

}  // namespace

QByteArray BlockPictureEncoder::Png(const QImage& picture) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  const int size[] = {picture.width(), picture.height(), int(picture.format())};
  hash.addData(QByteArrayView(reinterpret_cast<const char*>(size), sizeof size));
  hash.addData(
      QByteArrayView(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes()));
  const QByteArray key = hash.result();
  if (auto it = encoded_.constFind(key); it != encoded_.constEnd()) return *it;

  // Instrument pictures have a handful of colours: a palette image holds them exactly and
  // encodes several times faster than full colour.
  QImage image = picture;
  if (image.format() != QImage::Format_Indexed8 && image.depth() >= 16 &&
      !image.hasAlphaChannel()) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QList<QRgb> colors;
    for (int y = 0; y < rgb.height() && colors.size() <= 256; ++y) {
      const QRgb* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
      for (int x = 0; x < rgb.width() && colors.size() <= 256; ++x)
        if (!colors.contains(line[x])) colors.append(line[x]);
    }
    // With no more than 256 colours the conversion keeps every pixel exactly.
    if (colors.size() <= 256)
      image = rgb.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
  }
  image.setDotsPerMeterX(kBlockPictureDotsPerMeter);
  image.setDotsPerMeterY(kBlockPictureDotsPerMeter);
  const QByteArray png = EncodeImage(image, "PNG");
  if (png.isEmpty()) return {};
  if (encoded_.size() >= kCachedPictures) encoded_.clear();
  encoded_.insert(key, png);
  return png;
}

}  // namespace kd735
