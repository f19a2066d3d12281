#include "apps/common/form_kit.h"

#include <QAbstractButton>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIconEngine>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace kd735 {

namespace {

QString& TitleStorage() {
  static QString title;
  return title;
}

}  // namespace

QFont PageFont() {
  static const QFont font = [] {
    // Liberation Sans has Arial's metrics, the nearest to MS Sans Serif of the free fonts.
    QFont f;
    const QString wanted = QStringLiteral("MS Sans Serif");
    const QString nearest = QStringLiteral("Liberation Sans");
    if (QFontDatabase::hasFamily(wanted)) {
      f = QFont(wanted);
    } else if (QFontDatabase::hasFamily(nearest)) {
      f = QFont(nearest);
    } else {
      f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
      f.setStyleHint(QFont::SansSerif);
    }
    f.setPointSize(8);
    return f;
  }();
  return font;
}

void MakeFixedWindow(QWidget* window, QSize client) {
  window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  window->setFixedSize(client);
}

void CentreOnScreen(QWidget* window) {
  // Wayland leaves the placing of windows to the compositor.
  if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return;
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

QString MessageLines(const QString& text) {
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return lines;
}

void SetApplicationTitle(const QString& title) { TitleStorage() = title; }
QString ApplicationTitle() { return TitleStorage(); }

namespace {

// Every box of the programs: its icon and caption, the text with its "\r" line breaks, plain.
void PrepareBox(QMessageBox& box, QMessageBox::Icon icon, const QString& caption,
                const QString& text) {
  box.setObjectName(QStringLiteral("MessageBox"));
  box.setIcon(icon);
  box.setWindowTitle(caption);
  box.setText(MessageLines(text));
  box.setTextFormat(Qt::PlainText);
}

}  // namespace

void ShowMessageBox(QWidget* parent, BoxKind kind, const QString& text) {
  QMessageBox box(parent);
  switch (kind) {
    case BoxKind::kError:
      PrepareBox(box, QMessageBox::Critical, QStringLiteral("Error"), text);
      break;
    case BoxKind::kInformation:
      PrepareBox(box, QMessageBox::Information, QStringLiteral("Information"), text);
      break;
    case BoxKind::kPlain:
      PrepareBox(box, QMessageBox::NoIcon, ApplicationTitle(), text);
      break;
    case BoxKind::kApplicationError:
      PrepareBox(box, QMessageBox::Critical, ApplicationTitle(), text);
      break;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
}

bool AskYesNo(QWidget* parent, const QString& text, bool errorIcon) {
  QMessageBox box(parent);
  PrepareBox(box, errorIcon ? QMessageBox::Critical : QMessageBox::Question,
             errorIcon ? QStringLiteral("Error") : QStringLiteral("Confirm"), text);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

namespace {

// Draws the glyph into the square (0, 0, s, s). `ink` draws what stands on the button itself and
// follows the palette's button text, so the glyph shows on light and dark buttons alike; marks on
// the glyph's own light fills (a bubble, a lock) keep a dark ink.
void DrawGlyph(QPainter& p, Glyph glyph, double s, const QColor& ink) {
  p.setRenderHint(QPainter::Antialiasing);
  const QColor dark(30, 30, 30);
  p.setPen(QPen(ink, s / 14.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(ink);
  auto triangle = [&](QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    p.drawPath(path);
  };
  switch (glyph) {
    case Glyph::kUp:
      triangle({s * .5, s * .2}, {s * .85, s * .75}, {s * .15, s * .75});
      break;
    case Glyph::kDown:
      triangle({s * .5, s * .8}, {s * .85, s * .25}, {s * .15, s * .25});
      break;
    case Glyph::kLeft:
      triangle({s * .2, s * .5}, {s * .75, s * .15}, {s * .75, s * .85});
      break;
    case Glyph::kRight:
      triangle({s * .8, s * .5}, {s * .25, s * .15}, {s * .25, s * .85});
      break;
    case Glyph::kRestart: {
      // A darker green on light buttons, a lighter one on dark buttons.
      const QColor green = ink.lightness() > 128 ? QColor(90, 210, 90) : QColor(0, 110, 0);
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(green, s / 9.0, Qt::SolidLine, Qt::RoundCap));
      const QRectF ring(s * .2, s * .2, s * .6, s * .6);
      p.drawArc(ring, 110 * 16, 290 * 16);
      p.setBrush(green);
      p.setPen(Qt::NoPen);
      triangle({s * .38, s * .05}, {s * .62, s * .21}, {s * .36, s * .36});
      break;
    }
    case Glyph::kLock: {
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(ink, s / 10.0));
      p.drawArc(QRectF(s * .3, s * .12, s * .4, s * .44), 0, 180 * 16);
      p.drawLine(QPointF(s * .3, s * .34), QPointF(s * .3, s * .45));
      p.drawLine(QPointF(s * .7, s * .34), QPointF(s * .7, s * .45));
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(190, 140, 0));
      p.drawRoundedRect(QRectF(s * .18, s * .45, s * .64, s * .43), s * .06, s * .06);
      p.setBrush(dark);
      p.drawEllipse(QPointF(s * .5, s * .64), s * .06, s * .06);
      break;
    }
    case Glyph::kClear: {
      // A small screen being wiped.
      p.setBrush(Qt::black);
      p.setPen(QPen(ink, s / 16.0));
      p.drawRect(QRectF(s * .12, s * .18, s * .76, s * .5));
      p.setPen(QPen(QColor(220, 0, 0), s / 9.0, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s * .25, s * .8), QPointF(s * .75, s * .8));
      p.drawLine(QPointF(s * .3, s * .3), QPointF(s * .7, s * .56));
      p.drawLine(QPointF(s * .7, s * .3), QPointF(s * .3, s * .56));
      break;
    }
    case Glyph::kMessage: {
      p.setBrush(QColor(255, 255, 200));
      p.setPen(QPen(ink, s / 16.0));
      QPainterPath bubble;
      bubble.addRoundedRect(QRectF(s * .1, s * .15, s * .8, s * .5), s * .1, s * .1);
      bubble.moveTo(s * .3, s * .64);
      bubble.lineTo(s * .25, s * .88);
      bubble.lineTo(s * .48, s * .64);
      p.drawPath(bubble.simplified());
      p.setPen(QPen(dark, s / 14.0));
      p.drawLine(QPointF(s * .22, s * .32), QPointF(s * .78, s * .32));
      p.drawLine(QPointF(s * .22, s * .47), QPointF(s * .62, s * .47));
      break;
    }
    case Glyph::kStop: {
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(200, 0, 0));
      p.drawEllipse(QRectF(s * .1, s * .1, s * .8, s * .8));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(s * .25, s * .42, s * .5, s * .16));
      break;
    }
    case Glyph::kSendDocument:
    case Glyph::kSendAll: {
      auto page = [&](double dx) {
        p.setBrush(Qt::white);
        p.setPen(QPen(QColor(40, 70, 160), s / 16.0));
        p.drawRect(QRectF(s * (.3 + dx), s * .1, s * .55, s * .75));
        p.setPen(QPen(QColor(40, 70, 160), s / 20.0));
        for (double y : {.3, .45, .6})
          p.drawLine(QPointF(s * (.4 + dx), s * y), QPointF(s * (.75 + dx), s * y));
      };
      if (glyph == Glyph::kSendAll) page(-.15);
      page(0);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0, 140, 0));
      triangle({s * .05, s * .55}, {s * .35, s * .75}, {s * .05, s * .95});
      break;
    }
    case Glyph::kDelete:
    case Glyph::kClearList: {
      p.setPen(QPen(QColor(200, 0, 0), s / 7.0, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(s * .25, s * .25), QPointF(s * .75, s * .75));
      p.drawLine(QPointF(s * .75, s * .25), QPointF(s * .25, s * .75));
      if (glyph == Glyph::kClearList) {
        p.setPen(QPen(ink, s / 14.0));
        for (double y : {.1, .9}) p.drawLine(QPointF(s * .1, s * y), QPointF(s * .9, s * y));
      }
      break;
    }
    case Glyph::kOpen:
    case Glyph::kFolder: {
      p.setPen(QPen(QColor(150, 110, 0), s / 16.0));
      p.setBrush(QColor(240, 200, 80));
      QPainterPath folder;
      folder.moveTo(s * .08, s * .25);
      folder.lineTo(s * .38, s * .25);
      folder.lineTo(s * .45, s * .33);
      folder.lineTo(s * .92, s * .33);
      folder.lineTo(s * .92, s * .85);
      folder.lineTo(s * .08, s * .85);
      folder.closeSubpath();
      p.drawPath(folder);
      if (glyph == Glyph::kOpen) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 140, 0));
        triangle({s * .5, s * .05}, {s * .7, s * .3}, {s * .3, s * .3});
      }
      break;
    }
    case Glyph::kSave: {
      p.setPen(QPen(ink, s / 16.0));
      p.setBrush(QColor(60, 90, 170));
      p.drawRoundedRect(QRectF(s * .12, s * .12, s * .76, s * .76), s * .05, s * .05);
      p.setBrush(Qt::white);
      p.drawRect(QRectF(s * .25, s * .12, s * .5, s * .3));
      p.setBrush(QColor(200, 200, 200));
      p.drawRect(QRectF(s * .3, s * .58, s * .4, s * .3));
      break;
    }
    case Glyph::kCopy: {
      p.setPen(QPen(ink, s / 16.0));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(s * .12, s * .12, s * .5, s * .6));
      p.drawRect(QRectF(s * .38, s * .3, s * .5, s * .6));
      break;
    }
    case Glyph::kFont: {
      QFont f = p.font();
      f.setPixelSize(int(s * .8));
      f.setBold(true);
      p.setFont(f);
      p.setPen(ink);
      p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, QStringLiteral("A"));
      break;
    }
  }
}

// The glyphs drawn at the size asked for (device pixels, so crisp at any scale factor) in the
// application palette's colours at that moment.
class GlyphEngine final : public QIconEngine {
 public:
  explicit GlyphEngine(Glyph glyph) : glyph_(glyph) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    const double s = std::min(rect.width(), rect.height());
    painter->save();
    painter->translate(rect.x() + (rect.width() - s) / 2, rect.y() + (rect.height() - s) / 2);
    if (mode == QIcon::Disabled) painter->setOpacity(0.45);
    DrawGlyph(*painter, glyph_, s, Ink(mode));
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    paint(&p, QRect(QPoint(0, 0), size), mode, state);
    return pixmap;
  }

  QIconEngine* clone() const override { return new GlyphEngine(glyph_); }
  QString key() const override { return QStringLiteral("kd735-glyph"); }

 private:
  static QColor Ink(QIcon::Mode mode) {
    const QPalette palette = QGuiApplication::palette();
    switch (mode) {
      case QIcon::Disabled:
        return palette.color(QPalette::Disabled, QPalette::ButtonText);
      case QIcon::Selected:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
      default:
        return palette.color(QPalette::Active, QPalette::ButtonText);
    }
  }

  Glyph glyph_;
};

}  // namespace

QIcon PanelGlyph(Glyph glyph) { return QIcon(new GlyphEngine(glyph)); }

QColor DocumentPage() { return QColor(255, 255, 255); }

void MakeDocumentPage(QWidget* widget) {
  QPalette page = widget->palette();
  for (const QPalette::ColorGroup group :
       {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    page.setColor(group, QPalette::Base, DocumentPage());
    page.setColor(group, QPalette::Window, DocumentPage());
    page.setColor(group, QPalette::Text,
                  group == QPalette::Disabled ? QColor(120, 120, 120) : Qt::black);
    page.setColor(group, QPalette::WindowText, page.color(group, QPalette::Text));
  }
  widget->setPalette(page);
}

QIcon ThemeIcon(const char* name, Glyph fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), PanelGlyph(fallback));
}

void NameControl(QWidget* widget, const char* objectName, const QString& accessibleName) {
  widget->setObjectName(QString::fromLatin1(objectName));
  if (!accessibleName.isEmpty()) widget->setAccessibleName(accessibleName);
}

}  // namespace kd735
