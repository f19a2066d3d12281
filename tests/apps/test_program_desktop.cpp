// Both programs as a desktop user meets them: the keyboard, screen readers, scale factors, dark
// palettes and an unplugged instrument.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <cmath>

#include "apps/common/form_kit.h"
#include "apps/common/picture_view.h"
#include "files/picture.h"
#include "panel/screen_surface.h"
#include "tests/apps/program_rig.h"

namespace kd735::gui_test {
namespace {

using testing::PumpUntil;

using namespace std::chrono_literals;

const QString kNoLink = QStringLiteral("Нет связи c КД735!!!");

// The widget as it is painted on a screen of that scale factor.
QImage Rendered(QWidget* widget, qreal ratio) {
  QImage image(int(std::ceil(widget->width() * ratio)), int(std::ceil(widget->height() * ratio)),
               QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::magenta);
  widget->render(&image);
  return image;
}

// The lengths of the runs of equal colour along a line of device pixels, from the first lit
// pixel to the last one: with a checkerboard every instrument pixel is one run.
std::vector<int> Runs(const QImage& image, bool horizontal, int at, QRgb lit) {
  const int length = horizontal ? image.width() : image.height();
  auto pixel = [&](int i) { return horizontal ? image.pixel(i, at) : image.pixel(at, i); };
  int first = -1, last = -1;
  for (int i = 0; i < length; ++i)
    if (pixel(i) == lit) {
      if (first < 0) first = i;
      last = i;
    }
  std::vector<int> runs;
  for (int i = first; first >= 0 && i <= last;) {
    int j = i;
    while (j <= last && pixel(j) == pixel(i)) ++j;
    runs.push_back(j - i);
    i = j;
  }
  return runs;
}

// Every lit and unlit instrument pixel along the middle row and column is a run of k pixels.
void ExpectWholeBlocks(const QImage& shown, int k, QRgb lit) {
  for (const bool horizontal : {true, false}) {
    const int middle = (horizontal ? shown.height() : shown.width()) / 2;
    const std::vector<int> runs = Runs(shown, horizontal, middle, lit);
    ASSERT_GT(runs.size(), 30u);
    for (std::size_t i = 0; i < runs.size(); ++i)
      ASSERT_EQ(runs[i], k) << (horizontal ? "row" : "column") << ", run " << i;
  }
}

// A checkerboard on the live screen, drawn as the stream draws it.
void DrawCheckerboard(ScreenSurface& surface) {
  for (int c0 = 124; c0 >= 0; c0 -= 4) {  // column 0 last: it presents
    Packet packet{};
    packet[3] = std::uint8_t(c0);
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 8; ++j) packet[std::size_t(8 + 8 * i + j)] = (c0 + i) % 2 ? 0xAA : 0x55;
    surface.DrawScreenPacket(packet);
  }
}

TEST(Desktop, PicturesAreDrawnInWholeDevicePixelsAtEveryScaleFactor) {
  App();
  struct Case {
    const char* what;
    ScreenGeometry geometry;
    qreal ratio;
    int k;  // device pixels per instrument pixel: the largest that fits
  };
  const ScreenGeometry viewer{1, kPictureMargin, kPictureWidth, kPictureHeight};
  for (const Case& c :
       {Case{"report screen", kReportScreenGeometry, 1.0, 1},
        Case{"report screen", kReportScreenGeometry, 1.25, 1},
        Case{"report screen", kReportScreenGeometry, 1.5, 1},
        Case{"report screen", kReportScreenGeometry, 2.0, 2},
        Case{"virtual screen", kVirtualScreenGeometry, 1.25, 2},
        Case{"virtual screen", kVirtualScreenGeometry, 1.5, 3},
        Case{"virtual screen", kVirtualScreenGeometry, 1.75, 3}, Case{"viewer", viewer, 1.25, 1},
        Case{"viewer", viewer, 1.5, 1}, Case{"viewer", viewer, 2.5, 2}}) {
    SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(c.ratio));
    QImage picture;
    if (std::string(c.what) == "viewer") {
      FileRecord record{};
      for (int col = 0; col < 128; ++col)
        for (int b = 0; b < 8; ++b) record[std::size_t(1109 + 8 * col + b)] = col % 2 ? 0xAA : 0x55;
      picture = RenderPicture(record, false);
    } else {
      ScreenSurface surface(c.geometry.scale);
      ASSERT_TRUE(surface.Initialize());
      DrawCheckerboard(surface);
      picture = surface.BackBuffer();
    }
    TPictureView view(c.geometry);
    view.SetPicture(picture);
    const QImage shown = Rendered(&view, c.ratio);
    EXPECT_EQ(view.PixelScale(), c.k);
    ExpectWholeBlocks(shown, c.k, qRgb(255, 255, 0));
    // Centred: the page shows as much on the left as on the right, give or take a pixel.
    int left = 0;
    while (shown.pixel(left, shown.height() / 2) != qRgb(255, 0, 0)) ++left;
    // The right edge of the widget's last whole device pixel.
    int right = 0;
    const int end = int(std::floor(view.width() * c.ratio)) - 1;
    while (shown.pixel(end - right, shown.height() / 2) != qRgb(255, 0, 0)) ++right;
    EXPECT_LE(std::abs(left - right), 1);
    // The picture handed out for saving and copying is untouched.
    EXPECT_EQ(view.Picture(), picture);
  }
}

TEST(Desktop, ScreenReadersToggleTheKeyboardLockAndTheInstrumentFollows) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    SCOPED_TRACE(Name(which));
    ProgramRig rig(which);
    auto* lock = rig.Find<QAbstractButton>("UnLocButtomsSpeedButton");
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(lock);
    ASSERT_TRUE(accessible && accessible->actionInterface());
    QAccessibleActionInterface* actions = accessible->actionInterface();
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    rig.TakeCommands();
    for (const bool down : {true, false}) {
      actions->doAction(QAccessibleActionInterface::toggleAction());
      EXPECT_EQ(lock->isChecked(), down);
      const auto sent = rig.TakeCommands();
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_EQ(Word(sent[0], 0), down ? 0x8011 : 0x8022);
      rig.sim.WithInstrument(rig.path,
                             [down](sim::Instrument& i) { EXPECT_EQ(i.KeysLocked(), down); });
    }
    // The mouse still sends one command a click.
    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_EQ(rig.TakeCommands().size(), 1u);
  }
}

// Shows the window and makes it the active one, as a click on it would.
bool Activate(QWidget* window) {
  window->show();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}

TEST(Desktop, MenusShortcutsAndEscWorkFromTheKeyboard) {
  ProgramRig rig(Which::kVirtual);
  ModalWatcher watcher;
  ASSERT_TRUE(Activate(rig.main));
  auto* bar = qobject_cast<QMenuBar*>(rig.main->menuWidget());
  ASSERT_TRUE(bar);
  // Each menu has a mnemonic; the captions read as the programs' own.
  QStringList shown;
  for (QAction* menu : bar->actions()) {
    EXPECT_FALSE(QKeySequence::mnemonic(menu->text()).isEmpty()) << menu->text().toStdString();
    shown << QString(menu->text()).remove('&');
  }
  EXPECT_EQ(shown, (QStringList{"Файл", "Имитатор"}));

  // Alt and the mnemonic letter, and F10, open the menu.
  auto* file = rig.main->findChild<QMenu*>("FileMenu");
  const QKeyCombination mnemonic = QKeySequence::mnemonic(file->title())[0];
  QTest::sendKeyEvent(QTest::Click, rig.main, mnemonic.key(),
                      QString(QChar(mnemonic.key())).toLower(), mnemonic.keyboardModifiers());
  EXPECT_TRUE(PumpUntil([&] { return file->isVisible(); }, 2s));
  file->close();
  ASSERT_TRUE(PumpUntil([&] { return !file->isVisible() && rig.main->isActiveWindow(); }, 2s));
  QTest::keyClick(rig.main, Qt::Key_F10);
  EXPECT_TRUE(PumpUntil([&] { return file->isVisible(); }, 2s));
  file->close();
  bar->setActiveAction(nullptr);
  ASSERT_TRUE(Activate(rig.main));

  // Ctrl+S saves the picture (its dialog opens); Ctrl+Q ends the program.
  EXPECT_EQ(rig.main->findChild<QAction*>("SaveToFile")->shortcut(),
            QKeySequence(QKeySequence::Save));
  const int dialogs = watcher.FileDialogs();
  QTest::keyClick(rig.main, Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(watcher.FileDialogs(), dialogs + 1);

  // Esc hides the message window and the link window, whichever control has the focus.
  rig.Find<QAbstractButton>("USBMessageSpeedButton")->click();
  ASSERT_TRUE(Activate(rig.message));
  QWidget* edit = rig.message->findChild<QLineEdit*>("USBMessageMaskEdit");
  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Escape);
  EXPECT_FALSE(rig.message->isVisible());
  rig.Find<QAbstractButton>("BitBtn1")->click();
  ASSERT_TRUE(Activate(rig.link));
  QWidget* memo = rig.link->findChild<QPlainTextEdit*>("Memo");
  memo->setFocus();
  QTest::keyClick(memo, Qt::Key_Escape);
  EXPECT_FALSE(rig.link->isVisible());

  ASSERT_TRUE(Activate(rig.main));
  QTest::keyClick(rig.main, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(rig.main->isVisible());
  EXPECT_EQ(rig.Link().CurrentReader(), nullptr);  // stopped as the close box stops it
}

TEST(Desktop, TabFollowsTheLayout) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    SCOPED_TRACE(Name(which));
    ProgramRig rig(which);
    QStringList order;
    QWidget* w = rig.main->Screen();
    do {
      if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(rig.main) && w->isEnabled())
        order << w->objectName();
      w = w->nextInFocusChain();
    } while (w != rig.main->Screen());
    // Row by row, left to right; the report program's pages come after its left column.
    const QStringList want = which == Which::kVirtual ? QStringList{"DXDraw",
                                                                    "DrawCheckBox",
                                                                    "InvColorCheckBox",
                                                                    "EnterSpeedButton",
                                                                    "UpSpeedButton",
                                                                    "EscapeSpeedButton",
                                                                    "LeftSpeedButton",
                                                                    "RightSpeedButton",
                                                                    "DownSpeedButton",
                                                                    "ReStartSpeedButton",
                                                                    "USBMessageSpeedButton",
                                                                    "UnLocButtomsSpeedButton",
                                                                    "ScreenClearSpeedButton",
                                                                    "BitBtn1"}
                                                      : QStringList{"DXDraw",
                                                                    "DrawCheckBox",
                                                                    "InvColorCheckBox",
                                                                    "EnterSpeedButton",
                                                                    "EscapeSpeedButton",
                                                                    "UpSpeedButton",
                                                                    "LeftSpeedButton",
                                                                    "RightSpeedButton",
                                                                    "DownSpeedButton",
                                                                    "ReStartSpeedButton",
                                                                    "UnLocButtomsSpeedButton",
                                                                    "ScreenClearSpeedButton",
                                                                    "BitBtn1",
                                                                    "PageControl"};
    EXPECT_EQ(order.mid(0, want.size()).join(' ').toStdString(), want.join(' ').toStdString());
  }
}

TEST(Desktop, WithoutAnInstrumentTheLastPictureStaysButPlainlyNotLive) {
  for (const Which which : {Which::kReport, Which::kVirtual}) {
    SCOPED_TRACE(Name(which));
    ProgramRig rig(which);
    TDXDraw* screen = rig.main->Screen();
    const QRgb yellow = qRgb(255, 255, 0);
    auto litAt = [&](const QImage& image) {
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
          if (image.pixel(x, y) == yellow) return QPoint(x, y);
      return QPoint(-1, -1);
    };
    ASSERT_TRUE(PumpUntil([&] { return litAt(screen->Presented()).x() >= 0; }));
    EXPECT_TRUE(screen->OfflineText().isEmpty());

    rig.main->findChild<QAction*>("UnplugInstrument")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return rig.Panel(0) == kNoLink; }));
    // The picture is kept; what is shown is dimmed under the footer's text.
    EXPECT_EQ(screen->OfflineText(), kNoLink);
    const QImage kept = screen->Presented();
    const QPoint lit = litAt(kept);
    ASSERT_GE(lit.x(), 0);
    EXPECT_NE(Rendered(screen, 1.0).pixel(lit), yellow);
    // Saving and copying give the picture itself.
    rig.main->findChild<QAction*>("CopyToClipBoard")->trigger();
    EXPECT_EQ(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
              rig.main->Surface().BackBuffer());
    EXPECT_EQ(rig.main->Surface().BackBuffer().pixel(lit), yellow);

    rig.main->findChild<QAction*>("PlugInstrument")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return rig.Panel(0) == QStringLiteral("KD735 N 00123"); }));
    EXPECT_TRUE(screen->OfflineText().isEmpty());
    const QImage live = Rendered(screen, 1.0);
    EXPECT_EQ(live.pixel(lit), screen->Presented().pixel(lit));
  }
}

TEST(Desktop, GlyphsAndDocumentsStayReadableUnderADarkPalette) {
  App();
  const QPalette light = QApplication::palette();
  QPalette dark = light;
  for (const QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
    dark.setColor(g, QPalette::Window, QColor(53, 53, 53));
    dark.setColor(g, QPalette::Button, QColor(53, 53, 53));
    dark.setColor(g, QPalette::Base, QColor(35, 35, 35));
    dark.setColor(g, QPalette::WindowText, Qt::white);
    dark.setColor(g, QPalette::ButtonText, Qt::white);
    dark.setColor(g, QPalette::Text, Qt::white);
  }
  QApplication::setPalette(dark);
  // The arrows are drawn in the button text colour: light on dark buttons.
  const QImage arrow = PanelGlyph(Glyph::kUp).pixmap(QSize(24, 24)).toImage();
  EXPECT_GT(QColor(arrow.pixel(12, 12)).lightness(), 200);
  EXPECT_EQ(qAlpha(arrow.pixel(12, 12)), 255);

  ProgramRig rig(Which::kReport);
  // The description keeps its light page for its black and blue lines; the pictures too.
  QWidget* description = rig.Find("RichEdit");
  EXPECT_EQ(description->palette().color(QPalette::Base), DocumentPage());
  EXPECT_EQ(description->palette().color(QPalette::Text), QColor(Qt::black));
  const QImage screen = Rendered(rig.main->Screen(), 1.25);
  EXPECT_EQ(screen.pixel(0, 0), DocumentPage().rgb());
  QApplication::setPalette(light);
  const QImage arrowOnLight = PanelGlyph(Glyph::kUp).pixmap(QSize(24, 24)).toImage();
  EXPECT_LT(QColor(arrowOnLight.pixel(12, 12)).lightness(), 100);
}

}  // namespace
}  // namespace kd735::gui_test
