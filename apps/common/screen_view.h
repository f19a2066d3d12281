#pragma once

#include <QImage>
#include <QWidget>

#include "apps/common/picture_view.h"
#include "panel/panel_commands.h"

namespace kd735 {

// The live screen, `DXDraw`: shows the picture the screen surface presented last and repaints
// from it when exposed. While it has the keyboard focus, Esc, Enter and the arrow keys stand for
// the panel's keys.
class TDXDraw final : public TPictureView {
  Q_OBJECT

 public:
  explicit TDXDraw(const ScreenGeometry& geometry, QWidget* parent = nullptr);

  // Takes the picture at a present point of the surface.
  void Present(const QImage& picture) { SetPicture(picture); }
  const QImage& Presented() const { return Picture(); }
  std::uint64_t PaintCount() const { return paints_; }

 Q_SIGNALS:
  void panelKey(kd735::PanelControl control);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::uint64_t paints_ = 0;
};

}  // namespace kd735
