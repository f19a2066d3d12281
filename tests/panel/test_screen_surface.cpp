#include <gtest/gtest.h>

#include <QImage>
#include <array>
#include <bit>
#include <cstdint>

#include "panel/screen_column.h"
#include "panel/screen_surface.h"

namespace kd735 {
namespace {

constexpr QRgb kYellow = 0xFFFFFF00;
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kRed = 0xFFFF0000;
constexpr std::uint64_t kAllRows = ~std::uint64_t(0);

QRgb At(const ScreenSurface& s, int x, int y) { return s.BackBuffer().pixel(x, y); }

// The picture one packet should leave on `before`, worked out pixel by pixel.
QImage ExpectedAfter(QImage before, const ScreenGeometry& g, const Packet& p, bool inverted) {
  const int first = p[kScreenFirstColumnByte];
  for (int i = 0; i < kScreenColumnsPerPacket; ++i) {
    const int x = g.margin + g.scale * (first + i);
    if (x + g.scale > g.width) continue;
    const std::uint64_t rows = DecodeScreenColumn(ScreenPacketColumn(p, i));
    for (int r = 0; r < kScreenRows; ++r) {
      const bool lit = (rows >> r) & 1;
      const QRgb color = inverted ? (lit ? kBlue : kWhite) : (lit ? kYellow : kBlack);
      for (int dy = 0; dy < g.scale; ++dy)
        for (int dx = 0; dx < g.scale; ++dx)
          before.setPixel(x + dx, g.margin + g.scale * r + dy, color);
    }
  }
  return before;
}

bool HasBorder(const ScreenSurface& s) {
  const int w = s.Geometry().width, h = s.Geometry().height;
  for (int x = 0; x < w; ++x)
    if (At(s, x, 0) != kRed || At(s, x, h - 1) != kRed) return false;
  for (int y = 0; y < h; ++y)
    if (At(s, 0, y) != kRed || At(s, w - 1, y) != kRed) return false;
  return true;
}

Packet LitPacket(std::uint8_t first) {
  return MakeScreenPacket(first, {kAllRows, kAllRows, kAllRows, kAllRows});
}

TEST(ScreenColumn, BytesMapToRowsBottomBandFirstLsbTopmost) {
  struct Case {
    std::size_t packetByte;  // 8..15: group 0 of the packet
    std::uint8_t value;
    std::uint64_t rows;
  } cases[] = {
      {15, 0x01, std::uint64_t(1) << 0},        // top band, lowest bit: row 0
      {8, 0x80, std::uint64_t(1) << 63},        // bottom band, highest bit: row 63
      {15, 0xFF, 0xFFull},                      // whole top band: rows 0..7
      {8, 0xFF, 0xFFull << 56},                 // whole bottom band: rows 56..63
      {12, 0x05, (1ull << 24) | (1ull << 26)},  // byte 4 holds rows 24..31
  };
  for (const auto& c : cases) {
    Packet p{};
    p[c.packetByte] = c.value;
    const ScreenColumnView column = ScreenPacketColumn(p, 0);
    EXPECT_EQ(DecodeScreenColumn(column), c.rows) << c.packetByte;
    for (int r = 0; r < kScreenRows; ++r)
      EXPECT_EQ(ScreenColumnPixel(column, r), bool((c.rows >> r) & 1))
          << c.packetByte << " row " << r;
    EXPECT_EQ(EncodeScreenColumn(c.rows),
              (ScreenColumn{p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]}));

    // On the surface: only those rows of column 0 light up, at both scales.
    for (int scale : {1, 2}) {
      ScreenSurface s(scale);
      ASSERT_TRUE(s.Initialize());
      s.DrawScreenPacket(p);
      const ScreenGeometry& g = s.Geometry();
      for (int r = 0; r < kScreenRows; ++r)
        EXPECT_EQ(At(s, g.margin + g.scale - 1, g.margin + g.scale * r + g.scale - 1),
                  (c.rows >> r) & 1 ? kYellow : kBlack)
            << "scale " << scale << " row " << r;
      int lit = 0;
      for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) lit += At(s, x, y) == kYellow;
      EXPECT_EQ(lit, std::popcount(c.rows) * scale * scale) << "scale " << scale;
    }
  }
  EXPECT_FALSE(ScreenColumnPixel(ScreenColumn{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 64));
}

TEST(ScreenSurface, GeometryAndStartState) {
  ScreenSurface s1(1), s2(2);
  EXPECT_EQ(s1.BackBuffer().size(), QSize(134, 70));
  EXPECT_EQ(s2.BackBuffer().size(), QSize(264, 136));
  EXPECT_EQ(At(s1, 0, 0), kBlack);
  EXPECT_EQ(At(s2, 263, 135), kBlack);

  // Not initialised: packets and fills are ignored.
  s1.DrawScreenPacket(LitPacket(0));
  s1.FillClear();
  EXPECT_EQ(At(s1, 3, 3), kBlack);
  EXPECT_EQ(At(s1, 0, 0), kBlack);
  EXPECT_EQ(s1.PresentCount(), 0u);

  ASSERT_TRUE(s1.Initialize());
  EXPECT_EQ(s1.Tiles().Scale(), 1);
  ASSERT_TRUE(s2.Initialize());
  EXPECT_EQ(s2.Tiles().Height(), 16);
}

TEST(ScreenSurface, PacketDrawsColumnsAndOnlyColumnZeroPresents) {
  ScreenSurface s(1);
  ASSERT_TRUE(s.Initialize());
  int handled = 0;
  s.SetPresentHandler([&](const QImage& image) {
    ++handled;
    EXPECT_EQ(&image, &s.BackBuffer());
  });

  // Column 0: columns 0..3, then the border, then one present.
  Packet p = MakeScreenPacket(0, {0x1, 0x2, 0x4, kAllRows});
  QImage expected = ExpectedAfter(s.BackBuffer().copy(), s.Geometry(), p, false);
  s.DrawScreenPacket(p);
  EXPECT_TRUE(HasBorder(s));
  EXPECT_EQ(s.PresentCount(), 1u);
  EXPECT_EQ(handled, 1);
  for (int x = 1; x < 133; ++x)
    for (int y = 1; y < 69; ++y) ASSERT_EQ(At(s, x, y), expected.pixel(x, y)) << x << "," << y;
  EXPECT_EQ(At(s, 3, 3), kYellow);  // column 0, row 0
  EXPECT_EQ(At(s, 5, 5), kYellow);  // column 2, row 2
  EXPECT_EQ(At(s, 2, 3), kBlack);   // the margin is never drawn

  // Column 4: columns 4..7, no present.
  const QImage bordered = s.BackBuffer().copy();
  p = LitPacket(4);
  s.DrawScreenPacket(p);
  EXPECT_EQ(s.BackBuffer(), ExpectedAfter(bordered, s.Geometry(), p, false));
  EXPECT_EQ(s.PresentCount(), 1u);

  // The marker packet draws and presents nothing, even for column 0.
  const QImage before = s.BackBuffer().copy();
  p = LitPacket(0);
  p[2] = 0x55;
  s.DrawScreenPacket(p);
  EXPECT_EQ(s.BackBuffer(), before);
  EXPECT_EQ(s.PresentCount(), 1u);

  // All zeros (the reader's first hand-over): columns 0..3 unlit, border, present.
  s.DrawScreenPacket(Packet{});
  EXPECT_EQ(s.BackBuffer(), ExpectedAfter(before, s.Geometry(), Packet{}, false));
  EXPECT_EQ(At(s, 3, 3), kBlack);
  EXPECT_TRUE(HasBorder(s));
  EXPECT_EQ(s.PresentCount(), 2u);
  EXPECT_EQ(handled, 2);
}

TEST(ScreenSurface, DrawSwitchOffChangesNothing) {
  ScreenSurface s(2);
  ASSERT_TRUE(s.Initialize());
  s.SetDrawEnabled(false);
  const QImage before = s.BackBuffer().copy();
  for (int c = 0; c < 128; c += 4) s.DrawScreenPacket(LitPacket(std::uint8_t(c)));
  s.DrawScreenPacket(LitPacket(0));
  EXPECT_EQ(s.BackBuffer(), before);
  EXPECT_FALSE(HasBorder(s));
  EXPECT_EQ(s.PresentCount(), 0u);

  s.SetDrawEnabled(true);
  s.DrawScreenPacket(LitPacket(0));
  EXPECT_TRUE(HasBorder(s));
  EXPECT_EQ(s.PresentCount(), 1u);
}

TEST(ScreenSurface, InversionAndClearFillEverythingAndPresent) {
  ScreenSurface s(1);
  ASSERT_TRUE(s.Initialize());
  s.DrawScreenPacket(LitPacket(0));
  ASSERT_TRUE(HasBorder(s));

  // Inversion: all white at once, border gone, present.
  s.SetInverted(true);
  s.FillClear();
  EXPECT_EQ(s.PresentCount(), 2u);
  QImage white(134, 70, QImage::Format_RGB32);
  white.fill(kWhite);
  EXPECT_EQ(s.BackBuffer(), white);

  // New columns come in blue on white; old ones are not redrawn; the border waits for column 0.
  Packet p = MakeScreenPacket(4, {0xF0F0, 0, kAllRows, 1});
  s.DrawScreenPacket(p);
  EXPECT_EQ(s.BackBuffer(), ExpectedAfter(white, s.Geometry(), p, true));
  EXPECT_EQ(At(s, 7, 7), kBlue);
  EXPECT_EQ(At(s, 7, 3), kWhite);
  EXPECT_FALSE(HasBorder(s));
  s.DrawScreenPacket(LitPacket(0));
  EXPECT_TRUE(HasBorder(s));
  EXPECT_EQ(At(s, 3, 3), kBlue);
  EXPECT_EQ(At(s, 2, 2), kWhite);  // the margin keeps the colour of the last fill

  // Clear with inversion off: black everywhere, border included.
  s.SetInverted(false);
  s.FillClear();
  QImage black(134, 70, QImage::Format_RGB32);
  black.fill(kBlack);
  EXPECT_EQ(s.BackBuffer(), black);
  EXPECT_EQ(s.PresentCount(), 4u);
}

TEST(ScreenSurface, FullPassSpansThePictureAreaAtBothScales) {
  struct Case {
    int scale, left, right, top, bottom, width, height;
  } cases[] = {{1, 3, 130, 3, 66, 134, 70}, {2, 4, 259, 4, 131, 264, 136}};
  for (const auto& c : cases) {
    ScreenSurface s(c.scale);
    ASSERT_TRUE(s.Initialize());
    for (int col = 0; col < 128; col += 4) s.DrawScreenPacket(LitPacket(std::uint8_t(col)));
    s.DrawScreenPacket(LitPacket(0));
    EXPECT_EQ(s.PresentCount(), 2u);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        QRgb want = kBlack;
        if (x == 0 || y == 0 || x == c.width - 1 || y == c.height - 1)
          want = kRed;
        else if (x >= c.left && x <= c.right && y >= c.top && y <= c.bottom)
          want = kYellow;
        ASSERT_EQ(At(s, x, y), want) << "scale " << c.scale << " at " << x << "," << y;
      }
    }
  }
}

TEST(ScreenSurface, ColumnIndicesBeyondThePictureStayInsideTheSurface) {
  struct Case {
    int scale, first, drawn;  // how many of the four columns fit
  } cases[] = {
      {1, 124, 4}, {1, 125, 4}, {1, 127, 4}, {1, 128, 3}, {1, 130, 1}, {1, 131, 0}, {1, 255, 0},
      {2, 124, 4}, {2, 125, 4}, {2, 127, 3}, {2, 128, 2}, {2, 129, 1}, {2, 130, 0}, {2, 255, 0},
  };
  for (const auto& c : cases) {
    ScreenSurface s(c.scale);
    ASSERT_TRUE(s.Initialize());
    s.DrawScreenPacket(LitPacket(0));  // border first, so overdrawing it shows
    const QImage before = s.BackBuffer().copy();
    const Packet p = MakeScreenPacket(std::uint8_t(c.first), {kAllRows, 0xAAAA, kAllRows, 0xAAAA});
    s.DrawScreenPacket(p);
    EXPECT_EQ(s.BackBuffer(), ExpectedAfter(before, s.Geometry(), p, false))
        << "scale " << c.scale << " first " << c.first;
    EXPECT_EQ(s.PresentCount(), 1u);

    const ScreenGeometry& g = s.Geometry();
    if (c.drawn > 0) {  // the rightmost pixel of the last column that fits
      const int last = c.first + c.drawn - 1;
      const int x = g.margin + g.scale * last + g.scale - 1;
      EXPECT_LT(x, g.width);
      const bool lit = (c.drawn - 1) % 2 == 0;  // columns 0 and 2 are lit in row 0
      EXPECT_EQ(At(s, x, g.margin), lit ? kYellow : kBlack) << c.scale << "/" << c.first;
    }
    if (c.drawn < 4) {  // the next column would cross the right edge
      EXPECT_GT(g.margin + g.scale * (c.first + c.drawn) + g.scale, g.width);
    }
  }
  // The furthest column reaches over the border on the right.
  ScreenSurface s1(1), s2(2);
  ASSERT_TRUE(s1.Initialize() && s2.Initialize());
  s1.DrawScreenPacket(LitPacket(127));  // columns 127..130; 130 lies on x = 133
  EXPECT_EQ(At(s1, 133, 10), kYellow);
  s2.DrawScreenPacket(LitPacket(127));  // columns 127..129; 129 lies on x = 262..263
  EXPECT_EQ(At(s2, 263, 10), kYellow);
}

TEST(ScreenSurface, DrawingLeavesEarlierCopiesOfTheBackBufferAlone) {
  ScreenSurface s(2);
  ASSERT_TRUE(s.Initialize());
  const QImage saved = s.BackBuffer();  // shares the pixels until the next write
  s.DrawScreenPacket(LitPacket(0));
  EXPECT_EQ(saved.pixel(4, 4), kBlack);
  EXPECT_EQ(saved.pixel(0, 0), kBlack);
  EXPECT_EQ(At(s, 4, 4), kYellow);
}

TEST(ScreenSurface, FinalizedSurfaceDrawsNothing) {
  ScreenSurface s(1);
  ASSERT_TRUE(s.Initialize());
  s.Finalize();
  EXPECT_FALSE(s.IsInitialized());
  EXPECT_FALSE(s.Tiles().IsBuilt());
  const QImage before = s.BackBuffer().copy();
  s.DrawScreenPacket(LitPacket(0));
  s.FillClear();
  EXPECT_EQ(s.BackBuffer(), before);
  EXPECT_EQ(s.PresentCount(), 0u);
}

TEST(ScreenTiles, SchemesBandsAndFormat) {
  ScreenTiles tiles;
  EXPECT_FALSE(tiles.Build(2, QImage::Format_RGB16));  // not a 32-bit format
  EXPECT_FALSE(tiles.IsBuilt());
  ASSERT_TRUE(tiles.Build(2, QImage::Format_RGB32));
  const std::uint32_t yellow = 0xFFFFFF00, black = 0xFF000000, blue = 0xFF0000FF,
                      white = 0xFFFFFFFF;
  for (int x = 0; x < 2; ++x) {
    for (int y = 0; y < 16; ++y) {
      const bool bit0 = y < 2;  // value 0x01: band 0 only
      EXPECT_EQ(tiles.Pixel(0x01, x, y), bit0 ? yellow : black) << x << "," << y;
      EXPECT_EQ(tiles.Pixel(256 + 0x01, x, y), bit0 ? blue : white) << x << "," << y;
      EXPECT_EQ(tiles.Pixel(0x80, x, y), y >= 14 ? yellow : black);
      EXPECT_EQ(tiles.Pixel(0xFF, x, y), yellow);
      EXPECT_EQ(tiles.Pixel(256, x, y), white);
    }
  }
  EXPECT_EQ(tiles.Pixel(512, 0, 0), 0u);
  EXPECT_EQ(tiles.Pixel(0, 2, 0), 0u);
}

}  // namespace
}  // namespace kd735
