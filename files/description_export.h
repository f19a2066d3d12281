#pragma once

#include <QByteArray>
#include <QString>

#include "files/atomic_file.h"
#include "files/viewer.h"

// The viewer's description as documents for other programs: an RTF file (saved, and "text/rtf" on
// the clipboard), HTML for the clipboard's rich text, and plain text as its alternative. Each form
// holds the same lines with their formats (bold or regular, black or blue) in the page font.
//
// A control character inside a line (tab, line break, ...) is written as a blank in every form,
// so that no form splits a line or carries a character other programs handle differently.
namespace kd735 {

struct DescriptionFont {
  QString family = QStringLiteral("MS Sans Serif");
  double pointSize = 8;  // a size that is not positive (or not a number) means 8 pt
};

// An RTF document: Windows-1251 code page, the font in the font table with the Cyrillic charset,
// a colour table of black and blue, one paragraph per line. Every byte is printable ASCII or a
// line end; characters outside ASCII are written as \'hh (Windows-1251) or \uN?.
QByteArray DescriptionRtf(const Description& description, const DescriptionFont& font);

// An HTML document (UTF-8): one paragraph per line without margins, blanks kept.
QString DescriptionHtml(const Description& description, const DescriptionFont& font);

// The lines joined by "\n", without a line end after the last line.
QString DescriptionPlainText(const Description& description);

// Writes DescriptionRtf to `path`, replacing the file atomically.
FileWriteResult SaveDescriptionRtf(const QString& path, const Description& description,
                                   const DescriptionFont& font);

}  // namespace kd735
