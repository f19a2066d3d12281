#include "panel/screen_surface.h"

#include <algorithm>
#include <cstring>

#include "panel/screen_column.h"

namespace kd735 {
namespace {

constexpr QImage::Format kSurfaceFormat = QImage::Format_RGB32;

// Copies the tiles of the packet's four columns into the image rows. Only copies of pre-drawn
// pixels happen here; the scale is a constant so that each tile row is one fixed-size move.
template <int S>
void CopyColumnTiles(uchar* bits, qsizetype bytesPerLine, const ScreenGeometry& g,
                     const std::uint32_t* tiles, int schemeOffset, const Packet& packet) {
  constexpr int kTileHeight = 8 * S;
  constexpr int kTilePixels = S * kTileHeight;
  constexpr std::size_t kRowBytes = S * sizeof(std::uint32_t);
  const int firstColumn = packet[kScreenFirstColumnByte];
  for (int i = 0; i < kScreenColumnsPerPacket; ++i) {
    const int x = g.margin + S * (firstColumn + i);
    if (x + S > g.width) break;  // the remaining columns lie further right still
    const std::uint8_t* column = packet.data() + kScreenColumnsOffset + kScreenColumnBytes * i;
    // Top band (byte 7) first, so the rows are written downwards.
    for (int j = kScreenColumnBytes - 1; j >= 0; --j) {
      const std::uint32_t* tile = tiles + (schemeOffset + column[j]) * kTilePixels;
      uchar* dst = bits + (g.margin + S * ScreenColumnBandTop(j)) * bytesPerLine +
                   x * qsizetype(sizeof(std::uint32_t));
      for (int r = 0; r < kTileHeight; ++r, dst += bytesPerLine)
        std::memcpy(dst, tile + r * S, kRowBytes);
    }
  }
}

}  // namespace

ScreenSurface::ScreenSurface(int scale)
    : geometry_(ScreenGeometryForScale(scale)),
      backBuffer_(geometry_.width, geometry_.height, kSurfaceFormat) {
  backBuffer_.fill(NativePixel(kUnlitNormalColor, kSurfaceFormat));
}

bool ScreenSurface::Initialize() { return tiles_.Build(geometry_.scale, backBuffer_.format()); }

void ScreenSurface::Finalize() { tiles_.Release(); }

void ScreenSurface::DrawScreenPacket(const Packet& packet) {
  if (!drawEnabled_ || !IsInitialized()) return;
  if (packet[kScreenMarkerByte] == kNoScreenColumnsMarker) return;

  // One detach check per packet; the tile copies then write straight into the pixels.
  uchar* bits = backBuffer_.bits();
  const qsizetype bytesPerLine = backBuffer_.bytesPerLine();
  const int schemeOffset = inverted_ ? ScreenTiles::kInvertedOffset : 0;
  if (geometry_.scale == 2)
    CopyColumnTiles<2>(bits, bytesPerLine, geometry_, tiles_.Data(), schemeOffset, packet);
  else
    CopyColumnTiles<1>(bits, bytesPerLine, geometry_, tiles_.Data(), schemeOffset, packet);

  // Column 0 opens a new pass: frame it and show it.
  if (packet[kScreenFirstColumnByte] == 0) {
    DrawBorder();
    Present();
  }
}

void ScreenSurface::DrawBorder() {
  const int w = geometry_.width;
  const int h = geometry_.height;
  uchar* bits = backBuffer_.bits();
  const qsizetype bytesPerLine = backBuffer_.bytesPerLine();
  const auto pixel = [=](int x, int y) {
    return reinterpret_cast<std::uint32_t*>(bits + y * bytesPerLine) + x;
  };
  for (int y = 0; y < h; ++y) *pixel(0, y) = kBorderPixel;      // left
  std::fill_n(pixel(0, 0), w, kBorderPixel);                    // top
  for (int y = 0; y < h; ++y) *pixel(w - 1, y) = kBorderPixel;  // right
  std::fill_n(pixel(0, h - 1), w, kBorderPixel);                // bottom
}

void ScreenSurface::FillClear() {
  if (!IsInitialized()) return;
  backBuffer_.fill(
      NativePixel(inverted_ ? kUnlitInvertedColor : kUnlitNormalColor, backBuffer_.format()));
  Present();
}

void ScreenSurface::Present() {
  ++presentCount_;
  if (presentHandler_) presentHandler_(backBuffer_);
}

}  // namespace kd735
