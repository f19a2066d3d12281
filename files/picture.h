#pragma once

#include <QColor>
#include <QImage>

#include "files/file_record.h"

// The instrument's 128 x 64 screen picture stored in a record, drawn as a 134 x 70 image: a
// 3-pixel margin around the picture and a one-pixel red outline on the outermost pixels.
namespace kd735 {

inline constexpr int kPictureWidth = 134;
inline constexpr int kPictureHeight = 70;
inline constexpr int kPictureMargin = 3;
inline constexpr int kRecordPictureColumns = 128;
inline constexpr int kRecordPictureRows = 64;

// Background (also unlit pixels) and lit colours: black/yellow normally, white/blue inverted.
QColor PictureBackground(bool inverted);
QColor PictureLit(bool inverted);
inline const QColor kPictureFrame{255, 0, 0};

// Draws the picture of record bytes 1109..2132 (column c at 1109 + 8c, read as a 64-bit big-endian
// number whose bit r is row r, row 0 at the top) into a new 134 x 70 RGB32 image: background
// first, pixel (c, r) at (c + 3, r + 3), then the red outline.
QImage RenderPicture(RecordView record, bool inverted);

}  // namespace kd735
