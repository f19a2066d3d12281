#include "files/description_export.h"

#include <QHash>
#include <QtGlobal>
#include <cmath>
#include <cstdint>

#include "files/file_record.h"

namespace kd735 {

using namespace Qt::StringLiterals;

namespace {

// A line as every form shows it: control characters (and the line and paragraph separators, which
// would split the line) as blanks, a surrogate without its partner as U+FFFD.
QString ShownText(const QString& text) {
  QString shown = text;
  for (qsizetype i = 0; i < shown.size(); ++i) {
    const QChar c = shown[i];
    if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
        c == QChar::ParagraphSeparator) {
      shown[i] = u' ';
    } else if (c.isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate()) {
      ++i;
    } else if (c.isSurrogate()) {
      shown[i] = QChar::ReplacementCharacter;
    }
  }
  return shown;
}

// The font size in half points, as RTF counts it.
int HalfPoints(const DescriptionFont& font) {
  const double size = font.pointSize > 0 && std::isfinite(font.pointSize) ? font.pointSize : 8.0;
  return int(std::lround(qBound(1.0, size, 1638.0) * 2));
}

QString FontFamily(const DescriptionFont& font) {
  const QString family = ShownText(font.family).trimmed();
  return family.isEmpty() ? DescriptionFont().family : family;
}

// The Windows-1251 byte of a character, or 0 when the code page has none.
std::uint8_t Windows1251Byte(char16_t c) {
  static const QHash<char16_t, std::uint8_t> kBytes = [] {
    QHash<char16_t, std::uint8_t> bytes;
    for (int b = 0x80; b <= 0xFF; ++b) {
      const QChar decoded = Windows1251Char(std::uint8_t(b));
      // The undefined byte (shown as a control or as U+FFFD) is the code of no character.
      if (decoded.category() != QChar::Other_Control && decoded != QChar::ReplacementCharacter)
        bytes.insert(decoded.unicode(), std::uint8_t(b));
    }
    return bytes;
  }();
  return kBytes.value(c, 0);
}

// RTF text for one piece of shown text: \ { } escaped, Windows-1251 as \'hh, the rest as \uN?
// with N the UTF-16 code unit as a signed 16-bit number (a pair of them beyond the BMP).
// A blank after a blank is preceded by an empty group: LibreOffice reads blanks that meet in one
// piece of text as blanks mixed with narrow spaces (U+2006), which would change the line.
void AppendRtfText(QByteArray& out, const QString& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t c = text[i].unicode();
    if (c == u' ' && i > 0 && text[i - 1] == u' ') {
      out += "{} ";
    } else if (c < 0x80) {
      if (c == u'\\' || c == u'{' || c == u'}') out += '\\';
      out += char(c);
    } else if (const std::uint8_t b = Windows1251Byte(c)) {
      out += "\\'";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += "\\u";
      out += QByteArray::number(int(std::int16_t(c)));
      out += '?';
    }
  }
}

// HTML collapses runs of blanks and drops leading and trailing ones: a blank is written as such
// only inside the line and after a character other than a plain blank, every other one as a
// no-break space (so "a  b" becomes "a &nbsp;b").
QString HtmlLineText(const QString& text) {
  QString out;
  bool plainBlankBefore = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const bool plainBlank = text[i] == u' ' && i > 0 && i + 1 < text.size() && !plainBlankBefore;
    if (plainBlank)
      out += u' ';
    else if (text[i] == u' ')
      out += u"&nbsp;";
    else
      out += QString(text[i]).toHtmlEscaped();
    plainBlankBefore = plainBlank;
  }
  return out;
}

// The family as a quoted CSS string, followed by the generic sans-serif family.
QString CssFontFamily(const QString& family) {
  QString quoted = family;
  quoted.replace(u'\\', u"\\\\"_s).replace(u'\'', u"\\'"_s);
  return u"'"_s + quoted + u"',sans-serif"_s;
}

}  // namespace

QByteArray DescriptionRtf(const Description& description, const DescriptionFont& font) {
  QByteArray family;
  AppendRtfText(family, FontFamily(font).remove(u';'));  // a ';' would end the name
  QByteArray out;
  out += "{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1\r\n";
  out += "{\\fonttbl{\\f0\\fswiss\\fcharset204 " + family + ";}}\r\n";
  out += "{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;}\r\n";
  out += "\\viewkind4\r\n";
  const QByteArray size = QByteArray::number(HalfPoints(font));
  for (qsizetype i = 0; i < description.lines.size(); ++i) {
    const DescriptionLine& line = description.lines[i];
    // The last paragraph has no \par: one after it would add an empty paragraph at the end.
    if (i > 0) out += "\\par\r\n";
    out += "\\pard\\plain\\f0\\fs" + size + (line.blue ? "\\cf2" : "\\cf1") +
           (line.bold ? "\\b" : "\\b0") + ' ';
    AppendRtfText(out, ShownText(line.text));
  }
  out += "\r\n}\r\n";
  return out;
}

QString DescriptionHtml(const Description& description, const DescriptionFont& font) {
  const QString paragraphStyle =
      (u"margin:0;font-family:"_s + CssFontFamily(FontFamily(font)) + u";font-size:"_s +
       QString::number(HalfPoints(font) / 2.0) + u"pt"_s)
          .toHtmlEscaped();
  QString out = u"<html><head><meta charset=\"utf-8\"></head><body>"_s;
  for (const DescriptionLine& line : description.lines) {
    out += u"<p style=\""_s + paragraphStyle + u"\"><span style=\"font-weight:"_s +
           (line.bold ? u"bold"_s : u"normal"_s) + u";color:"_s +
           (line.blue ? u"#0000ff"_s : u"#000000"_s) + u"\">"_s +
           HtmlLineText(ShownText(line.text)) + u"</span></p>"_s;
  }
  out += u"</body></html>"_s;
  return out;
}

QString DescriptionPlainText(const Description& description) {
  QStringList lines;
  for (const DescriptionLine& line : description.lines) lines += ShownText(line.text);
  return lines.join(u'\n');
}

FileWriteResult SaveDescriptionRtf(const QString& path, const Description& description,
                                   const DescriptionFont& font) {
  return WriteFileAtomically(path, DescriptionRtf(description, font));
}

}  // namespace kd735
