#include "panel/screen_surface.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "panel/screen_column.h"

namespace kd735 {
namespace {

constexpr QImage::Format kSurfaceFormat = QImage::Format_RGB32;

// Writes band k of N tiles side by side into the S image rows starting at `row`.
template <int S, int N>
struct BandCopy {
  static void Copy(uchar* row, qsizetype bytesPerLine, const std::uint32_t* const* tile, int k) {
    constexpr std::size_t kRowBytes = S * sizeof(std::uint32_t);
    for (int y = 0; y < S; ++y, row += bytesPerLine)
      for (std::size_t i = 0; i < N; ++i)
        std::memcpy(row + i * kRowBytes, tile[i] + (k * S + y) * S, kRowBytes);
  }
};

#if defined(__SSE2__) || defined(_M_X64)
// Double scale, all four columns: each image row is 32 bytes, written as two 16-byte stores.
// The two pixel rows of a band are alike, so the band is read once and written twice.
template <>
struct BandCopy<2, 4> {
  static void Copy(uchar* row, qsizetype bytesPerLine, const std::uint32_t* const* tile, int k) {
    const auto band = [&](int i) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tile[i] + k * 4));
    };
    const __m128i left = _mm_unpacklo_epi64(band(0), band(1));
    const __m128i right = _mm_unpacklo_epi64(band(2), band(3));
    for (int y = 0; y < 2; ++y, row += bytesPerLine) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row), left);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 16), right);
    }
  }
};
#endif

// Copies the tiles of the first N columns of a packet, band by band, so that the N tiles of
// one image row are written side by side. Scale and column count are constants: every copy is
// a fixed-size move and the eight bands of a tile unroll.
template <int S, int N, int... K>
void CopyColumnTiles(uchar* origin, qsizetype bytesPerLine, const std::uint32_t* tiles,
                     int schemeOffset, const std::uint8_t* columns,
                     std::integer_sequence<int, K...>) {
  constexpr int kTilePixels = S * 8 * S;
  // Top band of the column (byte 7) first, so the image rows are written downwards.
  for (int j = kScreenColumnBytes - 1; j >= 0; --j) {
    const std::uint32_t* tile[std::size_t(N)];
    for (int i = 0; i < N; ++i)
      tile[i] = tiles + (schemeOffset + columns[kScreenColumnBytes * i + j]) * kTilePixels;
    uchar* row = origin + S * ScreenColumnBandTop(j) * bytesPerLine;
    (BandCopy<S, N>::Copy(row + K * S * bytesPerLine, bytesPerLine, tile, K), ...);
  }
}

template <int S, int N>
void CopyColumnTiles(uchar* origin, qsizetype bytesPerLine, const std::uint32_t* tiles,
                     int schemeOffset, const std::uint8_t* columns) {
  CopyColumnTiles<S, N>(origin, bytesPerLine, tiles, schemeOffset, columns,
                        std::make_integer_sequence<int, 8>());
}

// Draws the packet's columns that fit wholly inside the surface; columns beyond the picture
// land in the right margin as long as they fit.
template <int S>
void DrawColumns(uchar* bits, qsizetype bytesPerLine, const ScreenGeometry& g,
                 const std::uint32_t* tiles, int schemeOffset, const Packet& packet) {
  const int first = packet[kScreenFirstColumnByte];
  const int lastFitting = (g.width - g.margin - S) / S;  // the rightmost column that fits
  const int visible = std::clamp(lastFitting - first + 1, 0, kScreenColumnsPerPacket);
  if (visible == 0) return;
  uchar* origin =
      bits + g.margin * bytesPerLine + (g.margin + S * first) * qsizetype(sizeof(std::uint32_t));
  const std::uint8_t* columns = packet.data() + kScreenColumnsOffset;
  switch (visible) {
    case 4:
      return CopyColumnTiles<S, 4>(origin, bytesPerLine, tiles, schemeOffset, columns);
    case 3:
      return CopyColumnTiles<S, 3>(origin, bytesPerLine, tiles, schemeOffset, columns);
    case 2:
      return CopyColumnTiles<S, 2>(origin, bytesPerLine, tiles, schemeOffset, columns);
    case 1:
      return CopyColumnTiles<S, 1>(origin, bytesPerLine, tiles, schemeOffset, columns);
    default:
      return;  // none fits
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
  if (!bits) return;  // no pixels (allocation failed)
  const qsizetype bytesPerLine = backBuffer_.bytesPerLine();
  const int schemeOffset = inverted_ ? ScreenTiles::kInvertedOffset : 0;
  if (geometry_.scale == 2)
    DrawColumns<2>(bits, bytesPerLine, geometry_, tiles_.Data(), schemeOffset, packet);
  else
    DrawColumns<1>(bits, bytesPerLine, geometry_, tiles_.Data(), schemeOffset, packet);

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
  if (!bits) return;  // no pixels (allocation failed)
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
