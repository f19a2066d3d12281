#include "panel/whole_pixels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kd735 {

namespace {

constexpr int kColumns = 128;
constexpr int kRows = 64;

// Device pixels of the margin (border included) and of the border alone at k.
int MarginAt(const ScreenGeometry& g, int k) {
  return std::max(1, int(std::lround(double(g.margin) * k / g.scale)));
}
int BorderAt(const ScreenGeometry& g, int k) {
  return std::max(1, int(std::lround(double(k) / g.scale)));
}

// For every device coordinate along one axis, the picture coordinate it shows: the border, the
// inner margin, `cells` instrument pixels of k, the inner margin and the border again.
std::vector<int> AxisMap(const ScreenGeometry& g, int k, int cells, int pictureLength) {
  const int border = BorderAt(g, k);
  const int margin = MarginAt(g, k);
  const int inner = cells * k;
  const int length = 2 * margin + inner;
  const int innerSource = cells * g.scale;
  std::vector<int> map(static_cast<std::size_t>(length));
  for (int d = 0; d < length; ++d) {
    int s = 0;
    if (d < border) {
      s = 0;
    } else if (d < margin) {
      s = 1 + (d - border) * (g.margin - 1) / std::max(1, margin - border);
    } else if (d < margin + inner) {
      s = g.margin + (d - margin) * g.scale / k;  // whole instrument pixels only
    } else if (d < length - border) {
      s = g.margin + innerSource +
          (d - margin - inner) * (g.margin - 1) / std::max(1, margin - border);
    } else {
      s = pictureLength - 1;
    }
    map[std::size_t(d)] = std::clamp(s, 0, pictureLength - 1);
  }
  return map;
}

}  // namespace

QSize WholePixelSize(const ScreenGeometry& g, int k) {
  const int margin = MarginAt(g, k);
  return {kColumns * k + 2 * margin, kRows * k + 2 * margin};
}

int WholePixelScale(const ScreenGeometry& g, QSize available) {
  int k = 1;
  while (true) {
    const QSize next = WholePixelSize(g, k + 1);
    if (next.width() > available.width() || next.height() > available.height()) return k;
    ++k;
  }
}

QImage ScaleToWholePixels(const QImage& picture, const ScreenGeometry& g, int k) {
  if (k == g.scale || picture.isNull()) return picture;
  const QImage source = picture.convertToFormat(QImage::Format_RGB32);
  const std::vector<int> xs = AxisMap(g, k, kColumns, source.width());
  const std::vector<int> ys = AxisMap(g, k, kRows, source.height());
  QImage out(int(xs.size()), int(ys.size()), QImage::Format_RGB32);
  for (int y = 0; y < out.height(); ++y) {
    const auto* from = reinterpret_cast<const QRgb*>(source.constScanLine(ys[std::size_t(y)]));
    auto* to = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) to[x] = from[xs[std::size_t(x)]];
  }
  return out;
}

}  // namespace kd735
