#pragma once

#include <QFrame>
#include <QList>
#include <QString>

class QLabel;

namespace kd735 {

// A status bar of fixed-width panels, each a sunken label.
class TStatusBar final : public QFrame {
  Q_OBJECT

 public:
  struct Panel {
    int width;
    Qt::Alignment alignment;
    QString text;
  };

  TStatusBar(const QList<Panel>& panels, QWidget* parent = nullptr);

  void SetPanelText(int panel, const QString& text);
  QString PanelText(int panel) const;
  QLabel* PanelLabel(int panel) const { return labels_.value(panel); }

 private:
  QList<QLabel*> labels_;
};

}  // namespace kd735
