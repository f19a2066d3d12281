#include "files/bitmap_file.h"

#include <QBuffer>

namespace kd735 {

QByteArray EncodeImage(const QImage& picture, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, format)) return {};
  return bytes;
}

QByteArray EncodeBmp(const QImage& picture) {
  // RGB888 gives the plain 24-bit form every viewer reads.
  return EncodeImage(picture.convertToFormat(QImage::Format_RGB888), "BMP");
}

namespace {

FileWriteResult WriteEncoded(const QByteArray& bytes, const QString& path,
                             const QStringList& inputs) {
  if (bytes.isEmpty()) {
    FileWriteResult r;
    r.failedAt = FileWriteResult::Stage::kWrite;
    r.reason = QStringLiteral("the picture could not be encoded");
    r.path = path;
    return r;
  }
  return WriteFileAtomically(path, bytes, inputs);
}

}  // namespace

FileWriteResult SaveImageFile(const QImage& picture, const QString& path, const char* format,
                              const QStringList& inputs) {
  return WriteEncoded(EncodeImage(picture, format), path, inputs);
}

FileWriteResult SaveBmpFile(const QImage& picture, const QString& path) {
  return WriteEncoded(EncodeBmp(picture), path, {});
}

}  // namespace kd735
