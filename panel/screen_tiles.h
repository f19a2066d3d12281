#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

namespace kd735 {

// Where the screen goes on a drawing surface: instrument pixel (c, r) is the scale x scale square
// at (margin + scale*c, margin + scale*r); a one-pixel border runs along the surface's edges.
struct ScreenGeometry {
  int scale;
  int margin;
  int width;
  int height;
};

inline constexpr ScreenGeometry kReportScreenGeometry{1, 3, 134, 70};
inline constexpr ScreenGeometry kVirtualScreenGeometry{2, 4, 264, 136};

// Scale 2 is the virtual program's double size; anything else is the report program's scale 1.
constexpr ScreenGeometry ScreenGeometryForScale(int scale) {
  return scale == 2 ? kVirtualScreenGeometry : kReportScreenGeometry;
}

// Screen colours, before conversion to a surface's pixel format.
inline constexpr QRgb kLitNormalColor = 0xFFFFFF00;      // yellow
inline constexpr QRgb kUnlitNormalColor = 0xFF000000;    // black
inline constexpr QRgb kLitInvertedColor = 0xFF0000FF;    // blue
inline constexpr QRgb kUnlitInvertedColor = 0xFFFFFFFF;  // white
// The border is written as the raw pixel value 0xFF0000; the top byte is the opaque alpha that
// a 32-bit RGB image requires.
inline constexpr std::uint32_t kBorderPixel = 0xFFFF0000;

// Pre-drawn pictures of every byte value of a column band, in both colour schemes: tile v is the
// normal tile of v, tile 256 + v the inverted one. A tile is scale pixels wide and 8*scale high;
// its rows k*scale .. k*scale + scale - 1 are lit when bit k of v is set. The pixels are already
// in the surface's format, so drawing one is a plain copy.
class ScreenTiles {
 public:
  static constexpr int kCount = 512;
  static constexpr int kInvertedOffset = 256;

  // Builds all tiles for the scale (1 or 2) with the colours converted to the pixel format,
  // which must be a 32-bit one. Returns false (and holds no tiles) otherwise.
  bool Build(int scale, QImage::Format format);
  void Release();

  bool IsBuilt() const { return !pixels_.empty(); }
  int Scale() const { return scale_; }
  int Width() const { return scale_; }
  int Height() const { return 8 * scale_; }

  // Tile t (0..511) as Height() rows of Width() pixels, row after row. Only valid while built.
  const std::uint32_t* Tile(int t) const { return pixels_.data() + t * scale_ * 8 * scale_; }
  const std::uint32_t* Data() const { return pixels_.data(); }

  // One pixel of a tile; 0 outside the table.
  std::uint32_t Pixel(int t, int x, int y) const;

 private:
  int scale_ = 1;
  std::vector<std::uint32_t> pixels_;
};

// The raw 32-bit pixel value of a colour in a 32-bit image format.
std::uint32_t NativePixel(QRgb color, QImage::Format format);

}  // namespace kd735
