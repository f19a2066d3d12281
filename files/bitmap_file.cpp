#include "files/bitmap_file.h"

#include <QBuffer>

namespace kd735 {

QByteArray EncodeBmp(const QImage& picture) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  // RGB888 gives the plain 24-bit form every viewer reads.
  if (!picture.convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP")) return {};
  return bytes;
}

FileWriteResult SaveBmpFile(const QImage& picture, const QString& path) {
  const QByteArray bytes = EncodeBmp(picture);
  if (bytes.isEmpty()) {
    FileWriteResult r;
    r.failedAt = FileWriteResult::Stage::kWrite;
    r.reason = QStringLiteral("the picture could not be encoded");
    r.path = path;
    return r;
  }
  return WriteFileAtomically(path, bytes);
}

}  // namespace kd735
