#include <benchmark/benchmark.h>

#include <QImage>
#include <array>
#include <cstdint>
#include <random>

#include "panel/screen_column.h"
#include "panel/screen_surface.h"

namespace {

using kd735::Packet;

// One full pass over the screen: 32 packets for columns 0, 4, ..., 124 with varied pixels.
std::array<Packet, 32> FullPass() {
  std::array<Packet, 32> pass{};
  std::mt19937 random(735);
  for (std::size_t n = 0; n < pass.size(); ++n) {
    Packet& p = pass[n];
    for (auto& b : p) b = std::uint8_t(random());
    p[kd735::kScreenMarkerByte] = 0;
    p[kd735::kScreenFirstColumnByte] = std::uint8_t(4 * n);
  }
  return pass;
}

void DrawScreenPacket(benchmark::State& state) {
  kd735::ScreenSurface surface(int(state.range(0)));
  if (!surface.Initialize()) state.SkipWithError("no tiles");
  const auto pass = FullPass();
  std::size_t n = 0;
  for (auto _ : state) {
    surface.DrawScreenPacket(pass[n++ % pass.size()]);
    benchmark::DoNotOptimize(surface.BackBuffer().constBits());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DrawScreenPacket)->Arg(1)->Arg(2);

// The same picture drawn pixel by pixel with QImage::setPixel: the baseline the tile copies
// are measured against.
class NaiveScreen {
 public:
  explicit NaiveScreen(int scale)
      : g_(kd735::ScreenGeometryForScale(scale)),
        image_(g_.width, g_.height, QImage::Format_RGB32) {
    image_.fill(Qt::black);
  }

  void Draw(const Packet& p) {
    if (p[kd735::kScreenMarkerByte] == kd735::kNoScreenColumnsMarker) return;
    const int first = p[kd735::kScreenFirstColumnByte];
    for (int i = 0; i < 4; ++i) {
      const int x = g_.margin + g_.scale * (first + i);
      if (x + g_.scale > g_.width) break;
      for (int row = 0; row < kd735::kScreenRows; ++row) {
        const bool lit = kd735::ScreenColumnPixel(kd735::ScreenPacketColumn(p, i), row);
        const QRgb color = lit ? kd735::kLitNormalColor : kd735::kUnlitNormalColor;
        for (int dy = 0; dy < g_.scale; ++dy)
          for (int dx = 0; dx < g_.scale; ++dx)
            image_.setPixel(x + dx, g_.margin + g_.scale * row + dy, color);
      }
    }
    if (first == 0) {
      for (int y = 0; y < g_.height; ++y) image_.setPixel(0, y, kd735::kBorderPixel);
      for (int x = 0; x < g_.width; ++x) image_.setPixel(x, 0, kd735::kBorderPixel);
      for (int y = 0; y < g_.height; ++y) image_.setPixel(g_.width - 1, y, kd735::kBorderPixel);
      for (int x = 0; x < g_.width; ++x) image_.setPixel(x, g_.height - 1, kd735::kBorderPixel);
    }
  }
  const QImage& Image() const { return image_; }

 private:
  kd735::ScreenGeometry g_;
  QImage image_;
};

void NaiveDrawScreenPacket(benchmark::State& state) {
  NaiveScreen screen(int(state.range(0)));
  const auto pass = FullPass();
  std::size_t n = 0;
  for (auto _ : state) {
    screen.Draw(pass[n++ % pass.size()]);
    benchmark::DoNotOptimize(screen.Image().constBits());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(NaiveDrawScreenPacket)->Arg(1)->Arg(2);

}  // namespace
