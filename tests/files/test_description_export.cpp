#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QUrl>
#include <pugixml.hpp>

#include "files/description_export.h"
#include "tests/common/requirements.h"
#include "tests/files/record_builder.h"

namespace kd735 {
namespace {

using namespace Qt::StringLiterals;
using testing::RecordBuilder;

const QLocale kRu(QLocale::Russian, QLocale::Russia);

Description OneLine(const QString& text, bool bold = true, bool blue = false) {
  Description d;
  d.lines.append({text, bold, blue});
  return d;
}

// A real record's description and a line of characters that are hard to carry.
Description RecordAndTrickyLine() {
  Description d = DescribeRecord(RecordBuilder::Measurement().record, kRu);
  d.lines.append({u"Ω 😀 \\{}\tЖ€  x \u0001 y"_s, false, true});
  return d;
}
const QString kTrickyShown = u"Ω 😀 \\{} Ж€  x   y"_s;

TEST(DescriptionRtf, DocumentStructure) {
  Description d;
  d.lines = {{u"КД735  5 мм"_s, true, false}, {u" "_s, false, true}, {u"Шкала"_s, true, true}};
  // The family keeps its letters (escaped like text) but loses the ';' that would end it.
  EXPECT_EQ(
      DescriptionRtf(d, {u"Шрифт;{1}"_s, 10.5}),
      QByteArray("{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1\r\n"
                 "{\\fonttbl{\\f0\\fswiss\\fcharset204 \\'d8\\'f0\\'e8\\'f4\\'f2\\{1\\};}}\r\n"
                 "{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;}\r\n"
                 "\\viewkind4\r\n"
                 "\\pard\\plain\\f0\\fs21\\cf1\\b \\'ca\\'c4735 {} 5 \\'ec\\'ec\\par\r\n"
                 "\\pard\\plain\\f0\\fs21\\cf2\\b0  \\par\r\n"
                 "\\pard\\plain\\f0\\fs21\\cf2\\b \\'d8\\'ea\\'e0\\'eb\\'e0\r\n"
                 "}\r\n"));
  // No usable family or size: the page font.
  const QByteArray fallback = DescriptionRtf(d, {u""_s, -1});
  EXPECT_TRUE(fallback.contains("\\fcharset204 MS Sans Serif;}")) << fallback.constData();
  EXPECT_TRUE(fallback.contains("\\fs16\\cf1")) << fallback.constData();
  EXPECT_TRUE(DescriptionRtf({}, {}).endsWith("\\viewkind4\r\n\r\n}\r\n"));
}

TEST(DescriptionRtf, EscapesEveryCharacter) {
  struct Case {
    QString text;
    const char* rtf;
  };
  const Case cases[] = {
      {u"Съёмка №1"_s, "\\'d1\\'fa\\'b8\\'ec\\'ea\\'e0 \\'b91"},
      {u"€–«»\u00A0"_s, "\\'88\\'96\\'ab\\'bb\\'a0"},
      {u"a\\b{c}'"_s, "a\\\\b\\{c\\}'"},
      {u"Ω"_s, "\\u937?"},                           // no Windows-1251 code
      {u"\uE000\uFFFF"_s, "\\u-8192?\\u-1?"},        // above 32767: negative
      {u"😀"_s, "\\u-10179?\\u-8704?"},               // beyond the BMP: the surrogate pair
      {QString(QChar(0xD800)) + u"x"_s, "\\u-3?x"},  // a lone surrogate: U+FFFD
      {u"a\tb\r\nc\u0001\u007F"_s, "a b {} c {} "},
      {u"\u0085\u2028\u2029."_s, " {} {} ."},
      {u"  x   y "_s, " {} x {} {} y "},
      {u""_s, ""},
  };
  for (const Case& c : cases) {
    const QByteArray rtf = DescriptionRtf(OneLine(c.text), {});
    const qsizetype start = rtf.indexOf("\\cf1\\b ") + 7;
    const QByteArray body = rtf.mid(start, rtf.size() - start - 5);
    EXPECT_EQ(body, QByteArray(c.rtf)) << c.text.toStdString();
  }
  // Whatever the text, the document is printable ASCII with line ends.
  for (const char byte : DescriptionRtf(RecordAndTrickyLine(), {}))
    ASSERT_TRUE((byte >= 0x20 && byte < 0x7F) || byte == '\r' || byte == '\n') << int(byte);
}

TEST(DescriptionHtml, EscapesKeepsBlanksAndPlainText) {
  struct Case {
    QString text;
    QString html;
  };
  const Case cases[] = {
      {u"a < b & \"c\" > d"_s, u"a &lt; b &amp; &quot;c&quot; &gt; d"_s},
      {u" "_s, u"&nbsp;"_s},
      {u"КД735  0123"_s, u"КД735 &nbsp;0123"_s},
      {u" СL   = 5  "_s, u"&nbsp;СL &nbsp; = 5 &nbsp;"_s},
      {u"x\ty\u0001"_s, u"x y&nbsp;"_s},
      {u"😀"_s, u"😀"_s},
  };
  for (const Case& c : cases) {
    const QString html = DescriptionHtml(OneLine(c.text), {});
    EXPECT_TRUE(html.contains(u"color:#000000\">"_s + c.html + u"</span></p>"_s))
        << c.text.toStdString() << "\n"
        << html.toStdString();
  }

  Description d;
  d.lines = {{u"A"_s, true, false}, {u"b"_s, false, true}};
  EXPECT_EQ(DescriptionHtml(d, {u"O'Brien \"Sans\" & \\"_s, 9}),
            u"<html><head><meta charset=\"utf-8\"></head><body>"
            "<p style=\"margin:0;font-family:'O\\'Brien &quot;Sans&quot; &amp; \\\\',sans-serif;"
            "font-size:9pt\"><span style=\"font-weight:bold;color:#000000\">A</span></p>"
            "<p style=\"margin:0;font-family:'O\\'Brien &quot;Sans&quot; &amp; \\\\',sans-serif;"
            "font-size:9pt\"><span style=\"font-weight:normal;color:#0000ff\">b</span></p>"
            "</body></html>"_s);

  d.lines.append({u"c\td\ne"_s, false, false});
  EXPECT_EQ(DescriptionPlainText(d), u"A\nb\nc d e"_s);
  EXPECT_EQ(DescriptionPlainText({}), QString());
}

// Qt's own HTML reader (what a Qt program pastes) sees the same lines, formats and font.
TEST(DescriptionHtml, ReadBackByQt) {
  const Description d = RecordAndTrickyLine();
  QTextDocument doc;
  doc.setHtml(DescriptionHtml(d, {u"MS Sans Serif"_s, 8}));
  ASSERT_EQ(doc.blockCount(), d.lines.size());
  for (int i = 0; i < d.lines.size(); ++i) {
    const QTextBlock block = doc.findBlockByNumber(i);
    const QString want = i + 1 == d.lines.size() ? kTrickyShown : d.lines[i].text;
    EXPECT_EQ(block.text().replace(QChar::Nbsp, u' '), want) << i;
    const QTextCharFormat format = block.begin().fragment().charFormat();
    EXPECT_EQ(format.fontWeight() >= QFont::Bold, d.lines[i].bold) << i;
    EXPECT_EQ(format.foreground().color(), d.lines[i].blue ? QColor(0, 0, 255) : QColor(0, 0, 0))
        << i;
    EXPECT_EQ(format.fontFamilies().toStringList().value(0), u"MS Sans Serif"_s) << i;
    EXPECT_EQ(format.fontPointSize(), 8.0) << i;
  }
}

TEST(SaveDescriptionRtf, ReplacesTheFileOrNamesTheFailure) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(u"NoName.rtf"_s);
  ASSERT_TRUE(WriteFileAtomically(path, "old contents that are longer than the new ones"));
  const Description d = OneLine(u"Имя"_s);
  ASSERT_TRUE(SaveDescriptionRtf(path, d, {}));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), DescriptionRtf(d, {}));

  const FileWriteResult failed = SaveDescriptionRtf(dir.path(), d, {});
  EXPECT_EQ(failed.failedAt, FileWriteResult::Stage::kRefused);
  EXPECT_TRUE(failed.message().startsWith(dir.path())) << failed.message().toStdString();
}

// One LibreOffice conversion in its own profile and process group, so nothing it starts outlives
// the test.
bool ConvertWithLibreOffice(const QString& soffice, const QString& workDir, const QString& input,
                            const QString& to) {
  QProcess p;
  p.setChildProcessModifier([] { setsid(); });
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(soffice, {u"-env:UserInstallation="_s +
                        QUrl::fromLocalFile(QDir(workDir).filePath(u"profile"_s)).toString(),
                    u"--headless"_s, u"--norestore"_s, u"--convert-to"_s, to, u"--outdir"_s,
                    workDir, input});
  const bool finished = p.waitForStarted() && p.waitForFinished(120000);
  if (p.processId() > 0) ::kill(-pid_t(p.processId()), SIGKILL);
  if (!finished) p.waitForFinished();
  if (!finished || p.exitCode() != 0) ADD_FAILURE() << p.readAll().constData();
  return finished && p.exitCode() == 0;
}

struct ReadParagraph {
  QString text;
  // Each distinct format of the paragraph's text: "bold|#0000ff|MS Sans Serif|8pt".
  QStringList formats;
};

// The paragraphs of a flat ODF text document, with the character format of their text.
QList<ReadParagraph> ReadFlatOdf(const pugi::xml_document& doc) {
  QHash<QString, pugi::xml_node> styles;
  for (pugi::xpath_node s : doc.select_nodes("//office:automatic-styles/style:style"))
    styles.insert(QString::fromUtf8(s.node().attribute("style:name").value()), s.node());
  auto property = [&](const QStringList& names, const char* attribute, const char* otherwise) {
    for (const QString& name : names) {
      const pugi::xml_attribute a =
          styles.value(name).child("style:text-properties").attribute(attribute);
      if (a) return QString::fromUtf8(a.value());
    }
    return QString::fromUtf8(otherwise);
  };
  QList<ReadParagraph> out;
  for (pugi::xpath_node p : doc.select_nodes("//office:text/text:p")) {
    ReadParagraph read;
    auto walk = [&](auto&& self, pugi::xml_node node, QStringList styleNames) -> void {
      if (const char* name = node.attribute("text:style-name").value(); *name)
        styleNames.prepend(QString::fromUtf8(name));
      for (pugi::xml_node c : node.children()) {
        QString piece;
        if (c.type() == pugi::node_pcdata)
          piece = QString::fromUtf8(c.value());
        else if (std::string_view(c.name()) == "text:s")
          piece = QString(c.attribute("text:c").as_int(1), u' ');
        else
          self(self, c, styleNames);
        if (piece.isEmpty()) continue;
        read.text += piece;
        const QString format = QStringList{property(styleNames, "fo:font-weight", "normal"),
                                           property(styleNames, "fo:color", "#000000"),
                                           property(styleNames, "style:font-name", ""),
                                           property(styleNames, "fo:font-size", "")}
                                   .join(u'|');
        if (!read.formats.contains(format)) read.formats += format;
      }
    };
    walk(walk, p.node(), {});
    out += read;
  }
  return out;
}

TEST(DescriptionRtf, LibreOfficeReadsTheSameLinesAndFormats) {
  const QString soffice = QStandardPaths::findExecutable(u"soffice"_s);
  KD735_NEED(!soffice.isEmpty(), "LibreOffice");
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const Description d = RecordAndTrickyLine();
  const QString rtf = dir.filePath(u"description.rtf"_s);
  ASSERT_TRUE(SaveDescriptionRtf(rtf, d, {u"MS Sans Serif"_s, 8}));
  ASSERT_TRUE(ConvertWithLibreOffice(soffice, dir.path(), rtf, u"fodt"_s));

  QFile fodt(dir.filePath(u"description.fodt"_s));
  ASSERT_TRUE(fodt.open(QIODevice::ReadOnly));
  const QByteArray bytes = fodt.readAll();
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_buffer(bytes.constData(), size_t(bytes.size())));
  const QList<ReadParagraph> read = ReadFlatOdf(doc);
  ASSERT_EQ(read.size(), d.lines.size());
  for (int i = 0; i < d.lines.size(); ++i) {
    const DescriptionLine& line = d.lines[i];
    EXPECT_EQ(read[i].text, i + 1 == d.lines.size() ? kTrickyShown : line.text) << i;
    const QString format =
        QStringList{line.bold ? u"bold"_s : u"normal"_s, line.blue ? u"#0000ff"_s : u"#000000"_s,
                    u"MS Sans Serif"_s, u"8pt"_s}
            .join(u'|');
    EXPECT_EQ(read[i].formats, QStringList{format}) << i << " " << line.text.toStdString();
  }
}

}  // namespace
}  // namespace kd735
