#pragma once

#include <QImage>
#include <QSize>

#include "panel/screen_tiles.h"

// The instrument's picture on a screen of any scale factor: every instrument pixel becomes a
// square of a whole number of device pixels, so that glyph strokes stay even at 125 % or 150 %.
namespace kd735 {

// The size of the picture with k device pixels per instrument pixel: 128 x 64 squares of k x k,
// with the margins (border included) scaled by the same factor and rounded to whole pixels.
QSize WholePixelSize(const ScreenGeometry& geometry, int k);

// The largest k whose picture fits into `available` device pixels; at least 1.
int WholePixelScale(const ScreenGeometry& geometry, QSize available);

// The picture (geometry.width x geometry.height, instrument pixel (c, r) at margin + scale * (c,
// r)) drawn nearest-neighbour with k device pixels per instrument pixel: each instrument pixel is
// one k x k square of its colour, the border stays on the outermost pixels. At k == scale the
// picture itself comes back.
QImage ScaleToWholePixels(const QImage& picture, const ScreenGeometry& geometry, int k);

}  // namespace kd735
