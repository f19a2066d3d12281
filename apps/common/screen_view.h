#pragma once

#include <QImage>
#include <QWidget>

#include "panel/panel_commands.h"

namespace kd735 {

// The live screen, `DXDraw`: shows the picture the screen surface presented last, pixel for
// pixel, and repaints from it when exposed. While it has the keyboard focus, Esc, Enter and the
// arrow keys stand for the panel's keys.
class TDXDraw final : public QWidget {
  Q_OBJECT

 public:
  TDXDraw(QSize size, QWidget* parent = nullptr);

  // Takes the picture at a present point of the surface.
  void Present(const QImage& picture);
  const QImage& Presented() const { return presented_; }
  std::uint64_t PaintCount() const { return paints_; }

 Q_SIGNALS:
  void panelKey(kd735::PanelControl control);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage presented_;
  std::uint64_t paints_ = 0;
};

}  // namespace kd735
