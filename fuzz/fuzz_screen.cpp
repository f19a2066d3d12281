// Stream-packet drawing at both scales. Input: one control byte per 64-byte packet (bit 0: the
// inverted scheme, bit 1: drawing switched off, bit 2: a clear fill first), then the packet.
// Every packet drawn is checked pixel by pixel against the column encoding.
#include <algorithm>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_check.h"
#include "panel/screen_column.h"
#include "panel/screen_surface.h"

using namespace kd735;
using kd735::fuzz::Require;

namespace {

std::uint32_t Pixel(const QImage& image, int x, int y) {
  return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y))[x];
}

void Check(const ScreenSurface& surface, const Packet& packet, std::uint64_t presentsBefore) {
  const ScreenGeometry& g = surface.Geometry();
  const QImage& image = surface.BackBuffer();
  Require(image.width() == g.width && image.height() == g.height, "surface size");
  const int s = g.scale;
  const QImage::Format format = image.format();
  const std::uint32_t lit =
      NativePixel(surface.Inverted() ? kLitInvertedColor : kLitNormalColor, format);
  const std::uint32_t unlit =
      NativePixel(surface.Inverted() ? kUnlitInvertedColor : kUnlitNormalColor, format);
  const int first = packet[kScreenFirstColumnByte];
  for (int i = 0; i < kScreenColumnsPerPacket; ++i) {
    const int x0 = g.margin + s * (first + i);
    if (x0 + s > g.width) break;  // a tile that would not fit is not drawn
    for (int j = 0; j < kScreenColumnBytes; ++j) {
      const std::uint8_t v = packet[std::size_t(kScreenColumnsOffset + kScreenColumnBytes * i + j)];
      for (int b = 0; b < 8; ++b) {
        const int y0 = g.margin + s * (56 - 8 * j + b);
        for (int dy = 0; dy < s; ++dy)
          for (int dx = 0; dx < s; ++dx)
            Require(Pixel(image, x0 + dx, y0 + dy) == ((v >> b & 1) ? lit : unlit), "tile pixel");
      }
    }
  }
  const bool presents = first == 0;
  Require(surface.PresentCount() == presentsBefore + (presents ? 1 : 0), "present once per pass");
  if (presents) {
    for (int x = 0; x < g.width; ++x)
      Require(Pixel(image, x, 0) == kBorderPixel && Pixel(image, x, g.height - 1) == kBorderPixel,
              "border");
    for (int y = 0; y < g.height; ++y)
      Require(Pixel(image, 0, y) == kBorderPixel && Pixel(image, g.width - 1, y) == kBorderPixel,
              "border");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::unique_ptr<ScreenSurface> surfaces[2];
  if (!surfaces[0]) {
    for (int k = 0; k < 2; ++k) {
      surfaces[k] = std::make_unique<ScreenSurface>(k + 1);
      Require(surfaces[k]->Initialize(), "tiles");
    }
  }
  for (std::size_t at = 0; at + 1 <= size; at += 1 + kPacketSize) {
    const std::uint8_t control = data[at];
    Packet packet{};
    std::copy_n(data + at + 1, std::min<std::size_t>(kPacketSize, size - at - 1), packet.begin());
    for (auto& surface : surfaces) {
      surface->SetInverted(control & 1);
      surface->SetDrawEnabled(!(control & 2));
      if (control & 4) {
        surface->FillClear();
        const QImage& image = surface->BackBuffer();
        const std::uint32_t fill = NativePixel(
            surface->Inverted() ? kUnlitInvertedColor : kUnlitNormalColor, image.format());
        for (int y = 0; y < image.height(); ++y)
          for (int x = 0; x < image.width(); ++x) Require(Pixel(image, x, y) == fill, "clear fill");
      }
      const QImage before = (control & 2) || packet[kScreenMarkerByte] == kNoScreenColumnsMarker
                                ? surface->BackBuffer().copy()
                                : QImage();
      const std::uint64_t presents = surface->PresentCount();
      surface->DrawScreenPacket(packet);
      if (!before.isNull()) {
        Require(surface->BackBuffer() == before && surface->PresentCount() == presents,
                "nothing drawn");
      } else {
        Check(*surface, packet, presents);
      }
    }
  }
  return 0;
}
