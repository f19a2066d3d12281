#include "panel/screen_tiles.h"

#include <cstring>

namespace kd735 {

std::uint32_t NativePixel(QRgb color, QImage::Format format) {
  // Let Qt do the conversion once, the same way it would for any drawing into the format.
  QImage probe(1, 1, format);
  probe.fill(QColor::fromRgba(color));
  std::uint32_t pixel = 0;
  std::memcpy(&pixel, probe.constBits(), sizeof pixel);
  return pixel;
}

bool ScreenTiles::Build(int scale, QImage::Format format) {
  Release();
  if (scale != 1 && scale != 2) return false;
  if (QImage(1, 1, format).depth() != 32) return false;
  scale_ = scale;

  const std::uint32_t lit[2] = {NativePixel(kLitNormalColor, format),
                                NativePixel(kLitInvertedColor, format)};
  const std::uint32_t unlit[2] = {NativePixel(kUnlitNormalColor, format),
                                  NativePixel(kUnlitInvertedColor, format)};
  const int tileSize = Width() * Height();
  pixels_.resize(std::size_t(kCount * tileSize));
  for (int scheme = 0; scheme < 2; ++scheme) {
    for (int v = 0; v < 256; ++v) {
      std::uint32_t* tile = pixels_.data() + (scheme * kInvertedOffset + v) * tileSize;
      for (int y = 0; y < Height(); ++y) {
        const bool on = (v >> (y / scale)) & 1;
        for (int x = 0; x < Width(); ++x) tile[y * Width() + x] = on ? lit[scheme] : unlit[scheme];
      }
    }
  }
  return true;
}

void ScreenTiles::Release() {
  pixels_.clear();
  pixels_.shrink_to_fit();
}

std::uint32_t ScreenTiles::Pixel(int t, int x, int y) const {
  if (!IsBuilt() || t < 0 || t >= kCount || x < 0 || x >= Width() || y < 0 || y >= Height())
    return 0;
  return Tile(t)[y * Width() + x];
}

}  // namespace kd735
