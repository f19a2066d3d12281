#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include "files/atomic_file.h"

// Pictures as file contents, and pictures saved as files. The programs save their pictures as
// Windows bitmaps, whatever name they are saved under.
namespace kd735 {

// The picture in the given format ("PNG", "BMP", ...); empty when it cannot be encoded.
QByteArray EncodeImage(const QImage& picture, const char* format);

// The picture as a 24-bit Windows BMP file; empty when it cannot be encoded.
QByteArray EncodeBmp(const QImage& picture);

// Writes the picture in the format through the one checked, atomic file write; `inputs` are
// refused as the target.
FileWriteResult SaveImageFile(const QImage& picture, const QString& path, const char* format,
                              const QStringList& inputs = {});

// The same as a 24-bit BMP.
FileWriteResult SaveBmpFile(const QImage& picture, const QString& path);

}  // namespace kd735
