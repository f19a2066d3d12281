#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include "files/atomic_file.h"

// Pictures saved by the programs are Windows bitmaps, whatever name they are saved under.
namespace kd735 {

// The picture as a 24-bit Windows BMP file; empty when it cannot be encoded.
QByteArray EncodeBmp(const QImage& picture);

// Writes the picture as BMP through the one checked, atomic file write.
FileWriteResult SaveBmpFile(const QImage& picture, const QString& path);

}  // namespace kd735
