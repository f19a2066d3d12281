#pragma once

#include <QImage>
#include <cstdint>
#include <functional>

#include "link/transfer_record.h"
#include "panel/screen_tiles.h"

namespace kd735 {

// The live instrument screen: a back buffer into which every stream packet draws its four
// columns, with a red border, shown ("presented") once per pass over the screen.
//
// Not thread-safe: every call, including DrawScreenPacket from the stream reader's hand-off,
// is made on the UI thread. A widget paints BackBuffer() when the present handler fires and on
// every repaint.
class ScreenSurface {
 public:
  using PresentHandler = std::function<void(const QImage& backBuffer)>;

  // Scale 1 (134 x 70, report program) or 2 (264 x 136, virtual program); the back buffer
  // starts black.
  explicit ScreenSurface(int scale = 1);

  const ScreenGeometry& Geometry() const { return geometry_; }

  // Builds the tiles; from then on packets are drawn. Returns false if the tiles could not be
  // built (the surface then stays uninitialised).
  bool Initialize();
  // Releases the tiles; no packet is drawn and nothing is filled afterwards.
  void Finalize();
  bool IsInitialized() const { return tiles_.IsBuilt(); }

  // The "Вывод картинки" switch: while off, packets change nothing.
  void SetDrawEnabled(bool enabled) { drawEnabled_ = enabled; }
  bool DrawEnabled() const { return drawEnabled_; }

  // The "Инверсия цветов" scheme, used by the packets drawn from now on and by FillClear.
  void SetInverted(bool inverted) { inverted_ = inverted; }
  bool Inverted() const { return inverted_; }

  // Draws the four columns of one stream packet; a packet for column 0 then draws the border
  // and presents. Tiles that would not fit wholly inside the surface are skipped.
  void DrawScreenPacket(const Packet& packet);

  // Clear and colour inversion: fills the whole back buffer, border included, with the unlit
  // colour of the current scheme, then presents.
  void FillClear();

  const QImage& BackBuffer() const { return backBuffer_; }

  // Called on every present; the count goes on whether or not a handler is set.
  void SetPresentHandler(PresentHandler handler) { presentHandler_ = std::move(handler); }
  std::uint64_t PresentCount() const { return presentCount_; }

  const ScreenTiles& Tiles() const { return tiles_; }

 private:
  void DrawBorder();
  void Present();

  ScreenGeometry geometry_;
  QImage backBuffer_;
  ScreenTiles tiles_;
  bool drawEnabled_ = true;
  bool inverted_ = false;
  std::uint64_t presentCount_ = 0;
  PresentHandler presentHandler_;
};

}  // namespace kd735
