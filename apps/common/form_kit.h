#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QSize>
#include <QString>

class QWidget;
class QAbstractButton;

// Small pieces every window of both programs uses: the page font, the fixed window frame,
// message boxes with the programs' texts, and the glyphs of the panel buttons.
namespace kd735 {

// "MS Sans Serif" 8 pt where installed, else the closest sans-serif font.
QFont PageFont();

// A fixed-size window with only the close box; `client` is its client area. Centred on the
// screen the first time it is shown (where the window system lets programs place windows).
void MakeFixedWindow(QWidget* window, QSize client);
void CentreOnScreen(QWidget* window);

// The programs' message texts break lines with "\r".
QString MessageLines(const QString& text);

enum class BoxKind { kError, kInformation, kPlain, kApplicationError };

// A modal box with one OK button. kPlain boxes carry the application title as their caption,
// kApplicationError boxes that caption with the error icon.
void ShowMessageBox(QWidget* parent, BoxKind kind, const QString& text);
// A modal question box; true only for Yes. `errorIcon` gives it the error box's icon.
bool AskYesNo(QWidget* parent, const QString& text, bool errorIcon = false);

// The application title of the running program ("KD735_report"), used as the caption of plain
// message boxes.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// Descriptions and pictures are documents: they keep their own light page (black and blue text,
// the pictures' colours) under any desktop palette, a dark one included.
QColor DocumentPage();
void MakeDocumentPage(QWidget* widget);

// The panel's glyph buttons, drawn at the size asked for in the palette's button text colour.
enum class Glyph {
  kUp,
  kDown,
  kLeft,
  kRight,
  kRestart,
  kLock,
  kClear,
  kMessage,
  // Menus and small buttons.
  kStop,
  kSendDocument,
  kSendAll,
  kDelete,
  kClearList,
  kOpen,
  kSave,
  kCopy,
  kFolder,
  kFont
};
QIcon PanelGlyph(Glyph glyph);

// An icon of the desktop's theme, or a simple drawn one where the theme lacks it.
QIcon ThemeIcon(const char* name, Glyph fallback);

// Names a control for code (its objectName) and for screen readers.
void NameControl(QWidget* widget, const char* objectName, const QString& accessibleName = {});

}  // namespace kd735
