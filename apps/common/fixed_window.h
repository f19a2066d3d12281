#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

namespace kd735 {

// A window of the programs besides the main one: fixed size with only the close box, centred on
// its first showing, and only hidden when closed, also with Esc (it lives until the program ends,
// and closing it never ends the program).
class TFixedWindow : public QWidget {
 public:
  TFixedWindow(const QString& objectName, const QString& caption, QSize client,
               QWidget* parent = nullptr);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool shown_ = false;
};

}  // namespace kd735
