#include "report/docx_document.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <unordered_set>

#include <zip.h>

#include "files/file_record.h"

namespace kd735 {

namespace {

constexpr unsigned kParseFlags =
    pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration;

constexpr const char* kRelsNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr const char* kRelTypeBase =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr const char* kWordNs = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* kWpNs =
    "http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing";
constexpr const char* kRNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// 96 pixels per inch, as Word pastes a bitmap.
constexpr long long kEmuPerPixel = 9525;

// What a template may unpack to. A real template (a letterhead with a logo and the block tables)
// unpacks to well under 5 MiB; 64 MiB in all leaves room for photographs in it and keeps a small
// hostile archive from claiming more memory than a desktop has. The XML parts are also parsed
// into trees several times their size, so together they may hold 16 MiB.
constexpr zip_uint64_t kMaxPackageSize = 64ull * 1024 * 1024;
constexpr zip_uint64_t kMaxXmlSize = 16ull * 1024 * 1024;
// Word writes a few dozen parts.
constexpr zip_int64_t kMaxParts = 10000;
// Deeper nesting than any document needs (a table in a text box in a table is some 30 levels).
constexpr int kMaxXmlDepth = 512;

// A part made of pieces of text, read by libzip as it compresses: the whole part is never held in
// one string.
template <typename Piece>
struct PieceSource {
  std::vector<Piece> pieces;
  std::size_t piece = 0;
  std::size_t offset = 0;
  QByteArray unpacked;  // the compressed piece being read
  zip_error_t error{};

  zip_uint64_t Size() const {
    zip_uint64_t n = 0;
    for (const Piece& p : pieces) n += p.size;
    return n;
  }
  std::string_view Current() {
    const Piece& p = pieces[piece];
    if (!p.packed) return p.text;
    if (offset == 0) unpacked = qUncompress(*p.packed);
    return std::string_view(unpacked.constData(), static_cast<std::size_t>(unpacked.size()));
  }

  static zip_int64_t Callback(void* userdata, void* data, zip_uint64_t length,
                              zip_source_cmd_t command) {
    auto* self = static_cast<PieceSource*>(userdata);
    switch (command) {
      case ZIP_SOURCE_OPEN:
        self->piece = 0;
        self->offset = 0;
        return 0;
      case ZIP_SOURCE_READ: {
        zip_uint64_t done = 0;
        auto* out = static_cast<char*>(data);
        while (done < length && self->piece < self->pieces.size()) {
          const std::string_view p = self->Current();
          if (p.size() != self->pieces[self->piece].size) {
            zip_error_set(&self->error, ZIP_ER_INTERNAL, 0);
            return -1;
          }
          const std::size_t n = std::min<std::size_t>(p.size() - self->offset,
                                                      static_cast<std::size_t>(length - done));
          std::memcpy(out + done, p.data() + self->offset, n);
          done += n;
          self->offset += n;
          if (self->offset == p.size()) {
            ++self->piece;
            self->offset = 0;
          }
        }
        return static_cast<zip_int64_t>(done);
      }
      case ZIP_SOURCE_CLOSE:
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = self->Size();
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->error, data, length);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
      default:
        zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

struct StringWriter : pugi::xml_writer {
  std::string* out;
  explicit StringWriter(std::string* o) : out(o) {}
  void write(const void* data, size_t size) override {
    out->append(static_cast<const char*>(data), size);
  }
};

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

bool IsName(pugi::xml_node n, const char* name) { return std::strcmp(n.name(), name) == 0; }

// Wrappers that may hold block-level content, rows or cells without changing what they count as.
bool IsTransparentWrapper(pugi::xml_node n) {
  return IsName(n, "w:sdt") || IsName(n, "w:sdtContent") || IsName(n, "w:customXml");
}

// The children `name` of parent, looking through wrappers however deep they nest. Iterative:
// the nesting is the file's to choose.
void CollectChildren(pugi::xml_node parent, const char* name, std::vector<pugi::xml_node>* out) {
  pugi::xml_node level = parent;  // the node whose children are being looked at
  pugi::xml_node c = parent.first_child();
  for (;;) {
    if (!c) {
      if (level == parent) return;
      c = level.next_sibling();
      level = level.parent();
      continue;
    }
    if (IsName(c, name)) {
      out->push_back(c);
    } else if (IsTransparentWrapper(c) && c.first_child()) {
      level = c;
      c = c.first_child();
      continue;
    }
    c = c.next_sibling();
  }
}

// Text an XML 1.0 document may hold: control characters other than tab, line feed and carriage
// return, and the two non-characters, would make the file unreadable for Word.
QString XmlSafe(const QString& s) {
  QString out;
  out.reserve(s.size());
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    const char16_t u = c.unicode();
    if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
      out += c;
      out += s[++i];
      continue;
    }
    if (c.isSurrogate()) continue;
    if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') continue;
    if (u == 0xFFFE || u == 0xFFFF) continue;
    out += c;
  }
  return out;
}

// Children of w:rPr and w:pPr in the order the file format requires.
const std::initializer_list<const char*> kRunPropertyOrder = {"w:rStyle",
                                                              "w:rFonts",
                                                              "w:b",
                                                              "w:bCs",
                                                              "w:i",
                                                              "w:iCs",
                                                              "w:caps",
                                                              "w:smallCaps",
                                                              "w:strike",
                                                              "w:dstrike",
                                                              "w:outline",
                                                              "w:shadow",
                                                              "w:emboss",
                                                              "w:imprint",
                                                              "w:noProof",
                                                              "w:snapToGrid",
                                                              "w:vanish",
                                                              "w:webHidden",
                                                              "w:color",
                                                              "w:spacing",
                                                              "w:w",
                                                              "w:kern",
                                                              "w:position",
                                                              "w:sz",
                                                              "w:szCs",
                                                              "w:highlight",
                                                              "w:u",
                                                              "w:effect",
                                                              "w:bdr",
                                                              "w:shd",
                                                              "w:fitText",
                                                              "w:vertAlign",
                                                              "w:rtl",
                                                              "w:cs",
                                                              "w:em",
                                                              "w:lang",
                                                              "w:eastAsianLayout",
                                                              "w:specVanish",
                                                              "w:oMath",
                                                              "w:ins",
                                                              "w:del",
                                                              "w:moveFrom",
                                                              "w:moveTo",
                                                              "w:rPrChange"};
const std::initializer_list<const char*> kParagraphPropertyOrder = {"w:pStyle",
                                                                    "w:keepNext",
                                                                    "w:keepLines",
                                                                    "w:pageBreakBefore",
                                                                    "w:framePr",
                                                                    "w:widowControl",
                                                                    "w:numPr",
                                                                    "w:suppressLineNumbers",
                                                                    "w:pBdr",
                                                                    "w:shd",
                                                                    "w:tabs",
                                                                    "w:suppressAutoHyphens",
                                                                    "w:kinsoku",
                                                                    "w:wordWrap",
                                                                    "w:overflowPunct",
                                                                    "w:topLinePunct",
                                                                    "w:autoSpaceDE",
                                                                    "w:autoSpaceDN",
                                                                    "w:bidi",
                                                                    "w:adjustRightInd",
                                                                    "w:snapToGrid",
                                                                    "w:spacing",
                                                                    "w:ind",
                                                                    "w:contextualSpacing",
                                                                    "w:mirrorIndents",
                                                                    "w:suppressOverlap",
                                                                    "w:jc",
                                                                    "w:textDirection",
                                                                    "w:textAlignment",
                                                                    "w:textboxTightWrap",
                                                                    "w:outlineLvl",
                                                                    "w:divId",
                                                                    "w:cnfStyle",
                                                                    "w:rPr",
                                                                    "w:sectPr",
                                                                    "w:pPrChange"};

int OrderOf(const std::initializer_list<const char*>& order, const char* name) {
  int i = 0;
  for (const char* n : order) {
    if (std::strcmp(n, name) == 0) return i;
    ++i;
  }
  return i;  // unknown names sort last
}

// The child `name` of a property element, created at its place in the required order.
pugi::xml_node PropertyChild(pugi::xml_node props, const char* name,
                             const std::initializer_list<const char*>& order) {
  if (pugi::xml_node c = props.child(name)) return c;
  const int want = OrderOf(order, name);
  for (pugi::xml_node c = props.first_child(); c; c = c.next_sibling()) {
    if (c.type() == pugi::node_element && OrderOf(order, c.name()) > want)
      return props.insert_child_before(name, c);
  }
  return props.append_child(name);
}

void SetVal(pugi::xml_node n, const char* value) {
  pugi::xml_attribute a = n.attribute("w:val");
  if (!a) a = n.append_attribute("w:val");
  a.set_value(value);
}

pugi::xml_node FirstChildOrPrepend(pugi::xml_node parent, const char* name) {
  if (pugi::xml_node c = parent.child(name)) return c;
  return parent.prepend_child(name);
}

void ApplyRunFormat(pugi::xml_node rPr, const DocxRunFormat& f) {
  if (f.fontName) {
    pugi::xml_node fonts = PropertyChild(rPr, "w:rFonts", kRunPropertyOrder);
    // Theme fonts override the named ones: drop them so the name holds.
    for (const char* a : {"w:asciiTheme", "w:hAnsiTheme", "w:eastAsiaTheme", "w:cstheme"})
      fonts.remove_attribute(a);
    const std::string name = Utf8(XmlSafe(*f.fontName));
    for (const char* a : {"w:ascii", "w:hAnsi", "w:eastAsia", "w:cs"}) {
      pugi::xml_attribute at = fonts.attribute(a);
      if (!at) at = fonts.append_attribute(a);
      at.set_value(name.c_str());
    }
  }
  if (f.bold) {
    SetVal(PropertyChild(rPr, "w:b", kRunPropertyOrder), *f.bold ? "1" : "0");
    SetVal(PropertyChild(rPr, "w:bCs", kRunPropertyOrder), *f.bold ? "1" : "0");
  }
  if (f.italic) {
    SetVal(PropertyChild(rPr, "w:i", kRunPropertyOrder), *f.italic ? "1" : "0");
    SetVal(PropertyChild(rPr, "w:iCs", kRunPropertyOrder), *f.italic ? "1" : "0");
  }
  if (f.color) {
    pugi::xml_node color = PropertyChild(rPr, "w:color", kRunPropertyOrder);
    for (const char* a : {"w:themeColor", "w:themeTint", "w:themeShade"}) color.remove_attribute(a);
    SetVal(color, Utf8(*f.color).c_str());
  }
  if (f.halfPoints) {
    const std::string v = std::to_string(*f.halfPoints);
    SetVal(PropertyChild(rPr, "w:sz", kRunPropertyOrder), v.c_str());
    SetVal(PropertyChild(rPr, "w:szCs", kRunPropertyOrder), v.c_str());
  }
}

// Paragraphs directly in a cell (content controls included), in order.
std::vector<pugi::xml_node> CellParagraphs(pugi::xml_node cell) {
  std::vector<pugi::xml_node> out;
  CollectChildren(cell, "w:p", &out);
  return out;
}

// A new paragraph after `after` (or at the end of `parent` when after is null) whose properties
// are a copy of `pPr` (may be null).
pugi::xml_node NewParagraph(pugi::xml_node parent, pugi::xml_node after, pugi::xml_node pPr) {
  pugi::xml_node p = after ? parent.insert_child_after("w:p", after) : parent.append_child("w:p");
  if (pPr) {
    pugi::xml_node copy = p.append_copy(pPr);
    // A section break or a tracked change belongs to the original paragraph only.
    copy.remove_child("w:sectPr");
    copy.remove_child("w:pPrChange");
  }
  return p;
}

// Appends the runs of one line of text to a paragraph, before `before` (or at the end).
void AddLineRuns(pugi::xml_node p, pugi::xml_node before, const QString& line, pugi::xml_node rPr) {
  if (line.isEmpty()) return;
  pugi::xml_node r = before ? p.insert_child_before("w:r", before) : p.append_child("w:r");
  if (rPr) r.append_copy(rPr);
  QString chunk;
  auto flush = [&] {
    if (chunk.isEmpty()) return;
    pugi::xml_node t = r.append_child("w:t");
    t.append_attribute("xml:space") = "preserve";
    t.text().set(Utf8(chunk).c_str());
    chunk.clear();
  };
  for (QChar c : line) {
    if (c == u'\t') {
      flush();
      r.append_child("w:tab");
    } else if (c == u'\v' || c == u'\f') {
      flush();
      r.append_child("w:br");
    } else {
      chunk += c;
    }
  }
  flush();
}

// Splits on CR LF, CR or LF; a final line break ends the last line and starts no new one.
QStringList SplitLines(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(u'\r', u'\n');
  QStringList lines = t.split(u'\n');
  if (lines.size() > 1 && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// Tokens of a field instruction; double quotes group a token with blanks.
QStringList InstructionTokens(const QString& instr) {
  QStringList out;
  qsizetype i = 0;
  while (i < instr.size()) {
    while (i < instr.size() && instr[i].isSpace()) ++i;
    if (i >= instr.size()) break;
    QString tok;
    if (instr[i] == u'"') {
      ++i;
      while (i < instr.size() && instr[i] != u'"') tok += instr[i++];
      ++i;
    } else {
      while (i < instr.size() && !instr[i].isSpace()) tok += instr[i++];
    }
    out << tok;
  }
  return out;
}

// The variable a DOCVARIABLE instruction shows, or an empty string for any other field.
QString DocVariableName(const QString& instr) {
  const QStringList t = InstructionTokens(instr);
  if (t.size() >= 2 && t[0].compare(QLatin1String("DOCVARIABLE"), Qt::CaseInsensitive) == 0)
    return t[1];
  return {};
}

void SetText(pugi::xml_node t, const std::string& value) {
  if (!t.attribute("xml:space")) t.append_attribute("xml:space") = "preserve";
  t.text().set(value.c_str());
}

std::string DirOf(const std::string& partName) {
  const auto slash = partName.rfind('/');
  return slash == std::string::npos ? std::string() : partName.substr(0, slash + 1);
}

// Resolves a relationship target against the folder of its source part.
std::string ResolveTarget(const std::string& sourceDir, const std::string& target) {
  std::string path = target.starts_with('/') ? target.substr(1) : sourceDir + target;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string seg = path.substr(start, end - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

// Replaces the content of a settings part by an empty w:settings element.
pugi::xml_node NewSettings(pugi::xml_document& xml) {
  xml.reset();
  pugi::xml_node decl = xml.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  decl.append_attribute("standalone") = "yes";
  pugi::xml_node root = xml.append_child("w:settings");
  root.append_attribute("xmlns:w") = kWordNs;
  return root;
}

bool EndsWith(const char* s, const char* suffix) {
  const size_t n = std::strlen(s), m = std::strlen(suffix);
  return n >= m && std::strcmp(s + n - m, suffix) == 0;
}

QString PartText(const std::string& name) {
  return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

// Part names compare without regard to case: the key of a name in the package's index.
std::string FoldedName(const std::string& name) {
  if (std::all_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    std::string folded = name;
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return folded;
  }
  return PartText(name).toCaseFolded().toStdString();
}

bool IsXmlPartName(const std::string& name) {
  const std::string folded = FoldedName(name);
  return folded.ends_with(".xml") || folded.ends_with(".rels");
}

// Why a member name cannot be a part name, or an empty string. A part name is a path inside the
// package: never absolute, no empty, "." or ".." segment that could lead out of it when the report
// is unpacked, no backslash or control character.
QString BadPartName(const std::string& name) {
  if (name.starts_with('/'))
    return QStringLiteral("имя части %1 начинается с /").arg(PartText(name));
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '\\')
      return QStringLiteral("недопустимый символ в имени части %1")
          .arg(VisibleText(PartText(name)));
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string_view segment(name.data() + start, end - start);
    if (segment.empty() || segment == "." || segment == "..")
      return QStringLiteral("недопустимое имя части %1").arg(PartText(name));
    start = end + 1;
  }
  return {};
}

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF) without the two
// non-characters XML does not allow.
bool IsValidUtf8(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    int n = 0;
    char32_t u = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      u = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      u = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      u = c & 0x07;
    } else {
      return false;
    }
    if (end - p <= n) return false;
    for (int k = 1; k <= n; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      u = u << 6 | (p[k] & 0x3F);
    }
    if ((n == 2 && u < 0x800) || (n == 3 && (u < 0x10000 || u > 0x10FFFF))) return false;
    if ((u >= 0xD800 && u <= 0xDFFF) || u == 0xFFFE || u == 0xFFFF) return false;
    p += n + 1;
  }
  return true;
}

// Control characters XML 1.0 does not allow in a document, even written as a reference.
bool HasForbiddenControl(const char* s) {
  for (; *s; ++s) {
    const unsigned char c = static_cast<unsigned char>(*s);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return true;
  }
  return false;
}

bool IsBlank(const char* s) {
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
  return true;
}

// The local part of an element name ("docPr" of "wp:docPr").
const char* LocalName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

// A decimal id; 0 when it is none or does not fit 64 bits.
std::uint64_t DecimalId(std::string_view digits) {
  if (digits.empty() || digits.size() > 18) return 0;  // 18 digits always fit
  std::uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + std::uint64_t(c - '0');
  }
  return v;
}

// Why an XML part would not read back as the well-formed XML Word requires, or an empty string.
// The parser alone is lenient (it drops text after the root element and takes an attribute
// twice), so those are checked here. Collects the ids of drawing objects on the way.
QString CheckXmlPart(const std::string& data, std::vector<std::uint64_t>* drawingIds) {
  size_t bom = data.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  if (!IsValidUtf8(data)) return QStringLiteral("текст не в кодировке UTF-8");
  const size_t first = data.find_first_not_of(" \t\r\n", bom);
  if (first != bom && first != std::string::npos && data.compare(first, 5, "<?xml") == 0 &&
      first + 5 < data.size() && std::strchr(" \t\r\n", data[first + 5]))
    return QStringLiteral("объявление XML не в начале");
  // The flags the document is read with, so that it parses here exactly when it parses there,
  // and those that keep what they would drop silently: text outside the root and a DTD.
  pugi::xml_document doc;
  const pugi::xml_parse_result r = doc.load_buffer(
      data.data(), data.size(), kParseFlags | pugi::parse_fragment | pugi::parse_doctype,
      pugi::encoding_utf8);
  if (!r)
    return QStringLiteral("%1 (байт %2)").arg(QString::fromUtf8(r.description())).arg(r.offset);
  int roots = 0;
  for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element) ++roots;
    if (n.type() == pugi::node_doctype) return QStringLiteral("объявление DTD не допускается");
    if ((n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) && !IsBlank(n.value()))
      return QStringLiteral("текст вне корневого элемента");
  }
  if (roots != 1) return QStringLiteral("нужен ровно один корневой элемент, а их %1").arg(roots);

  // Every node once, in document order, without recursion.
  std::vector<std::string_view> names;
  pugi::xml_node n = doc.document_element();
  int depth = 1;
  while (n) {
    if (n.type() == pugi::node_element) {
      if (depth > kMaxXmlDepth)
        return QStringLiteral("элементы вложены глубже %1 уровней").arg(kMaxXmlDepth);
      names.clear();
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        names.emplace_back(a.name());
        if (HasForbiddenControl(a.value()))
          return QStringLiteral("недопустимый управляющий символ в атрибуте %1")
              .arg(QString::fromUtf8(a.name()));
      }
      if (names.size() > 1) {
        std::sort(names.begin(), names.end());
        if (std::adjacent_find(names.begin(), names.end()) != names.end())
          return QStringLiteral("атрибут %1 дважды в элементе %2")
              .arg(QString::fromUtf8(std::adjacent_find(names.begin(), names.end())->data()),
                   QString::fromUtf8(n.name()));
      }
      if (std::strcmp(LocalName(n.name()), "docPr") == 0) {
        const char* id = n.attribute("id").value();
        drawingIds->push_back(DecimalId(id));
      }
    } else if ((n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) &&
               HasForbiddenControl(n.value())) {
      return QStringLiteral("недопустимый управляющий символ в тексте");
    }
    if (n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
    }
    if (n) n = n.next_sibling();
  }
  return {};
}

}  // namespace

DocxDocument::~DocxDocument() = default;

std::unique_ptr<DocxDocument> DocxDocument::Load(const QByteArray& bytes, QString* error) {
  std::unique_ptr<DocxDocument> doc(new DocxDocument);
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src =
      zip_source_buffer_create(bytes.constData(), static_cast<zip_uint64_t>(bytes.size()), 0, &ze);
  zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY, &ze) : nullptr;
  if (!za) {
    *error = QStringLiteral("файл не является архивом .docx (%1)")
                 .arg(QString::fromUtf8(zip_error_strerror(&ze)));
    if (src) zip_source_free(src);
    zip_error_fini(&ze);
    return nullptr;
  }
  zip_error_fini(&ze);
  auto fail = [&](const QString& text) {
    *error = text;
    zip_discard(za);
    return std::unique_ptr<DocxDocument>();
  };

  // Names and sizes first: nothing is unpacked from an archive that breaks the rules.
  const zip_int64_t count = zip_get_num_entries(za, 0);
  if (count > kMaxParts)
    return fail(QStringLiteral("в архиве слишком много частей (%1, допускается %2)")
                    .arg(count)
                    .arg(kMaxParts));
  struct Member {
    zip_uint64_t index;
    std::string name;
    zip_uint64_t size;
  };
  std::vector<Member> members;
  std::unordered_set<std::string> folded;
  zip_uint64_t total = 0, xmlTotal = 0;
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) ||
        !(st.valid & ZIP_STAT_SIZE))
      return fail(QStringLiteral("запись %1 архива не читается").arg(i + 1));
    const std::string name = st.name;
    if (name.empty() || name.back() == '/') continue;  // folder entries carry nothing
    if (const QString bad = BadPartName(name); !bad.isEmpty()) return fail(bad);
    // Which copy counts is anyone's guess, and the package could not be written back.
    if (!folded.insert(FoldedName(name)).second)
      return fail(QStringLiteral("часть %1 встречается в архиве дважды").arg(PartText(name)));
    total += std::min<zip_uint64_t>(st.size, kMaxPackageSize + 1);
    if (IsXmlPartName(name)) xmlTotal += std::min<zip_uint64_t>(st.size, kMaxXmlSize + 1);
    if (total > kMaxPackageSize)
      return fail(QStringLiteral("содержимое архива слишком велико (больше %1 МиБ)")
                      .arg(kMaxPackageSize >> 20));
    if (xmlTotal > kMaxXmlSize)
      return fail(
          QStringLiteral("XML-части архива слишком велики (больше %1 МиБ)").arg(kMaxXmlSize >> 20));
    members.push_back({zip_uint64_t(i), name, st.size});
  }
  // A part may not also be a folder of another one ("word" beside "word/document.xml").
  for (const Member& m : members) {
    const std::string key = FoldedName(m.name);
    for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
      if (folded.count(key.substr(0, slash)))
        return fail(QStringLiteral("часть %1 лежит в папке, которая сама является частью")
                        .arg(PartText(m.name)));
  }

  std::vector<std::uint64_t> drawingIds;
  for (const Member& m : members) {
    std::string data(m.size, '\0');
    zip_file_t* f = zip_fopen_index(za, m.index, 0);
    const zip_int64_t n = f ? zip_fread(f, data.data(), m.size) : -1;
    if (f) zip_fclose(f);
    if (n != static_cast<zip_int64_t>(m.size))
      return fail(QStringLiteral("часть %1 не читается").arg(PartText(m.name)));
    // Every XML part must read back as XML, also one this program never looks into: the report
    // carries it on, and Word refuses the whole document for one broken part.
    if (IsXmlPartName(m.name)) {
      if (const QString bad = CheckXmlPart(data, &drawingIds); !bad.isEmpty())
        return fail(
            QStringLiteral("часть %1 не является правильным XML: %2").arg(PartText(m.name), bad));
    }
    doc->AddPart(m.name, std::move(data)).store = m.name.find("/media/") != std::string::npos;
  }
  zip_discard(za);

  std::uint32_t maxId = 0;
  for (std::uint64_t id : drawingIds) {
    if (id == 0 || id > UINT32_MAX) continue;  // not an id of the unsignedInt kind
    doc->drawingIds_.insert(std::uint32_t(id));
    maxId = std::max(maxId, std::uint32_t(id));
  }
  doc->nextDrawingId_ = maxId + 1u;  // wraps to 0 after the largest id; 0 is never handed out
  if (!doc->Init(error)) return nullptr;
  return doc;
}

bool DocxDocument::Init(QString* error) {
  if (!FindPart("[Content_Types].xml") || !FindPart("_rels/.rels")) {
    *error = QStringLiteral("в архиве нет описания частей документа Word");
    return false;
  }
  for (pugi::xml_node rel : Xml("_rels/.rels").child("Relationships").children("Relationship")) {
    if (EndsWith(rel.attribute("Type").value(), "/officeDocument")) {
      mainPart_ = ResolveTarget("", rel.attribute("Target").value());
      break;
    }
  }
  if (mainPart_.empty() || !FindPart(mainPart_)) {
    *error = QStringLiteral("в архиве нет основной части документа Word");
    return false;
  }
  mainDir_ = DirOf(mainPart_);
  if (const std::string rels = RelsPathOf(mainPart_); !FindPart(rels) && !CanAddPart(rels)) {
    *error = QStringLiteral("часть %1 не может быть создана").arg(PartText(rels));
    return false;
  }
  pugi::xml_node root = Xml(mainPart_).document_element();
  if (!IsName(root, "w:document") || std::strcmp(root.attribute("xmlns:w").value(), kWordNs) != 0 ||
      !root.child("w:body")) {
    *error = QStringLiteral("основная часть не является документом Word");
    return false;
  }
  // A document made from a template is a document, not a template: Word refuses a .docx that
  // declares its main part a template.
  pugi::xml_node types = Xml("[Content_Types].xml").child("Types");
  const std::string mainName = "/" + mainPart_;
  for (pugi::xml_node o : types.children("Override")) {
    if (mainName != o.attribute("PartName").value()) continue;
    const std::string ct = o.attribute("ContentType").value();
    if (ct.find("template.main+xml") != std::string::npos) {
      o.attribute("ContentType")
          .set_value(
              "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
      Touch("[Content_Types].xml");
    }
  }
  return true;
}

DocxDocument::Part* DocxDocument::FindPart(const std::string& name) {
  auto it = index_.find(FoldedName(name));
  return it == index_.end() ? nullptr : it->second;
}

bool DocxDocument::CanAddPart(const std::string& name) {
  if (name.empty() || !BadPartName(name).isEmpty() || FindPart(name)) return false;
  // Neither in a folder that is a part, nor a folder of parts itself.
  const std::string key = FoldedName(name);
  for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
    if (index_.count(key.substr(0, slash))) return false;
  return !folders_.count(key);
}

bool DocxDocument::IsStructuralPart(const std::string& name) {
  const Part* part = FindPart(name);
  if (!part) return false;
  if (part == FindPart(mainPart_) || part == FindPart("[Content_Types].xml") ||
      FoldedName(name).ends_with(".rels"))
    return true;
  for (const char* kind : {"/header", "/footer"})
    for (const std::string& p : RelatedParts(kind))
      if (FindPart(p) == part) return true;
  return false;
}

DocxDocument::Part& DocxDocument::AddPart(const std::string& name, std::string data) {
  auto part = std::make_unique<Part>();
  part->name = name;
  part->data = std::move(data);
  Part* p = part.get();
  parts_.push_back(std::move(part));
  const std::string key = FoldedName(name);
  index_[key] = p;
  for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
    folders_.insert(key.substr(0, slash));
  return *p;
}

pugi::xml_document& DocxDocument::Xml(const std::string& name) {
  Part* p = FindPart(name);
  if (!p) p = &AddPart(name, {});
  if (!p->xml) {
    p->xml = std::make_unique<pugi::xml_document>();
    // Every part read from the archive was checked when it was loaded; a part made here starts
    // empty.
    p->xml->load_buffer(p->data.data(), p->data.size(), kParseFlags, pugi::encoding_utf8);
  }
  return *p->xml;
}

void DocxDocument::Touch(const std::string& name) {
  if (Part* p = FindPart(name)) p->dirty = true;
}

QByteArray DocxDocument::Save(QString* error) {
  for (auto& part : parts_) {
    if (part->xml && part->dirty) {
      part->data.clear();
      StringWriter w(&part->data);
      part->xml->save(w, "", pugi::format_raw, pugi::encoding_utf8);
      part->dirty = false;
    }
  }
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* buf = zip_source_buffer_create(nullptr, 0, 0, &ze);
  zip_t* za = buf ? zip_open_from_source(buf, ZIP_TRUNCATE, &ze) : nullptr;
  if (!za) {
    *error = QString::fromUtf8(zip_error_strerror(&ze));
    if (buf) zip_source_free(buf);
    zip_error_fini(&ze);
    return {};
  }
  zip_error_fini(&ze);
  zip_source_keep(buf);  // the archive's bytes are read from it after zip_close
  auto fail = [&](const char* what) {
    *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(zip_strerror(za)));
    zip_discard(za);
    zip_source_free(buf);
    return QByteArray();
  };
  // The main part with its appended rows is read from its pieces at zip_close.
  PieceSource<Piece> mainSource;
  zip_error_init(&mainSource.error);
  const Part* main = FindPart(mainPart_);
  for (auto& part : parts_) {
    // The buffers are read at zip_close; part->data stays untouched until then.
    zip_source_t* s = nullptr;
    if (part.get() == main) {
      mainSource.pieces = MainPartPieces(part->data);
      s = zip_source_function(za, &PieceSource<Piece>::Callback, &mainSource);
    } else {
      s = zip_source_buffer(za, part->data.data(), part->data.size(), 0);
    }
    if (!s) return fail("zip_source_buffer");
    const zip_int64_t idx = zip_file_add(za, part->name.c_str(), s, ZIP_FL_ENC_UTF_8);
    if (idx < 0) {
      zip_source_free(s);
      return fail("zip_file_add");
    }
    if (part->store) zip_set_file_compression(za, static_cast<zip_uint64_t>(idx), ZIP_CM_STORE, 0);
  }
  if (zip_close(za) != 0) return fail("zip_close");

  QByteArray out;
  if (zip_source_open(buf) == 0) {
    zip_source_seek(buf, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(buf);
    zip_source_seek(buf, 0, SEEK_SET);
    if (size > 0) {
      out.resize(size);
      if (zip_source_read(buf, out.data(), static_cast<zip_uint64_t>(size)) != size) out.clear();
    }
    zip_source_close(buf);
  }
  zip_source_free(buf);
  if (out.isEmpty()) *error = QStringLiteral("архив не собран");
  return out;
}

std::string DocxDocument::RelsPathOf(const std::string& partName) const {
  const std::string dir = DirOf(partName);
  return dir + "_rels/" + partName.substr(dir.size()) + ".rels";
}

std::vector<std::string> DocxDocument::RelatedParts(const char* typeSuffix) {
  std::vector<std::string> out;
  const std::string rels = RelsPathOf(mainPart_);
  if (!FindPart(rels)) return out;
  for (pugi::xml_node rel : Xml(rels).child("Relationships").children("Relationship")) {
    if (EndsWith(rel.attribute("Type").value(), typeSuffix) &&
        std::strcmp(rel.attribute("TargetMode").value(), "External") != 0) {
      std::string target = ResolveTarget(mainDir_, rel.attribute("Target").value());
      if (FindPart(target)) out.push_back(std::move(target));
    }
  }
  return out;
}

pugi::xml_node DocxDocument::SettingsRoot() {
  if (!settingsPart_.empty()) return Xml(settingsPart_).child("w:settings");
  std::vector<std::string> found = RelatedParts("/settings");
  // Never the document itself, its relationships, content types, headers or footers: starting a
  // settings part afresh would wipe them.
  std::erase_if(found, [this](const std::string& part) { return IsStructuralPart(part); });
  if (!found.empty()) {
    settingsPart_ = found.front();
    pugi::xml_document& xml = Xml(settingsPart_);
    if (pugi::xml_node root = xml.child("w:settings")) return root;
    // A settings part that does not read is started afresh: Word allows one settings part only.
    Touch(settingsPart_);
    return NewSettings(xml);
  }
  // No settings part: make one, with its relationship and content type. A relationship whose
  // part is missing from the archive gets that part, so the document keeps one settings part.
  const std::string rels = RelsPathOf(mainPart_);
  pugi::xml_document& relsXml = Xml(rels);
  pugi::xml_node relsRoot = relsXml.child("Relationships");
  if (!relsRoot) {
    relsRoot = relsXml.append_child("Relationships");
    relsRoot.append_attribute("xmlns") = kRelsNs;
  }
  std::string name;
  pugi::xml_node rel;
  for (pugi::xml_node r : relsRoot.children("Relationship")) {
    if (EndsWith(r.attribute("Type").value(), "/settings") &&
        std::strcmp(r.attribute("TargetMode").value(), "External") != 0) {
      rel = r;
      name = ResolveTarget(mainDir_, r.attribute("Target").value());
      // A target that names a folder, or a place no part may have, is pointed elsewhere.
      if (!CanAddPart(name)) name.clear();
      break;
    }
  }
  if (name.empty()) {
    name = mainDir_ + "settings.xml";
    for (int n = 2; !CanAddPart(name); ++n)
      name = mainDir_ + "settings" + std::to_string(n) + ".xml";
    if (!rel) {
      const std::string id = NewRelationshipId(relsRoot);
      rel = relsRoot.append_child("Relationship");
      rel.append_attribute("Id") = id.c_str();
      rel.append_attribute("Type") = (std::string(kRelTypeBase) + "settings").c_str();
    }
    pugi::xml_attribute target = rel.attribute("Target");
    if (!target) target = rel.append_attribute("Target");
    target.set_value(name.substr(mainDir_.size()).c_str());
    Touch(rels);
  }
  pugi::xml_node root = NewSettings(Xml(name));
  Touch(name);
  settingsPart_ = name;

  pugi::xml_node types = Xml("[Content_Types].xml").child("Types");
  const std::string partName = "/" + name;
  pugi::xml_node o;
  for (pugi::xml_node d : types.children("Override"))
    if (partName == d.attribute("PartName").value()) o = d;
  if (!o) {
    o = types.append_child("Override");
    o.append_attribute("PartName") = partName.c_str();
    o.append_attribute("ContentType");
  }
  o.attribute("ContentType")
      .set_value("application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml");
  Touch("[Content_Types].xml");
  return root;
}

pugi::xml_node DocxDocument::DocVar(const QString& name) {
  pugi::xml_node vars = SettingsRoot().child("w:docVars");
  for (pugi::xml_node v : vars.children("w:docVar")) {
    if (QString::fromUtf8(v.attribute("w:name").value()).compare(name, Qt::CaseInsensitive) == 0)
      return v;
  }
  return {};
}

void DocxDocument::SetVariable(const QString& name, const QString& value) {
  pugi::xml_node settings = SettingsRoot();
  pugi::xml_node v = DocVar(name);
  if (!v) {
    pugi::xml_node vars = settings.child("w:docVars");
    if (!vars) {
      // Its place: after w:compat, before w:rsids and everything the format lists later.
      static const char* const kAfter[] = {"w:rsids",
                                           "m:mathPr",
                                           "w:attachedSchema",
                                           "w:themeFontLang",
                                           "w:clrSchemeMapping",
                                           "w:doNotIncludeSubdocsInStats",
                                           "w:doNotAutoCompressPictures",
                                           "w:forceUpgrade",
                                           "w:captions",
                                           "w:readModeInkLockDown",
                                           "w:smartTagType",
                                           "sl:schemaLibrary",
                                           "w:shapeDefaults",
                                           "w:doNotEmbedSmartTags",
                                           "w:decimalSymbol",
                                           "w:listSeparator"};
      pugi::xml_node before;
      for (pugi::xml_node c = settings.first_child(); c && !before; c = c.next_sibling()) {
        for (const char* n : kAfter)
          if (IsName(c, n) || std::strncmp(c.name(), "w14:", 4) == 0 ||
              std::strncmp(c.name(), "w15:", 4) == 0) {
            before = c;
            break;
          }
      }
      vars = before ? settings.insert_child_before("w:docVars", before)
                    : settings.append_child("w:docVars");
    }
    v = vars.append_child("w:docVar");
    v.append_attribute("w:name") = Utf8(XmlSafe(name)).c_str();
  }
  // A variable the template declares without a value has no w:val yet.
  pugi::xml_attribute val = v.attribute("w:val");
  if (!val) val = v.append_attribute("w:val");
  val.set_value(Utf8(XmlSafe(value)).c_str());
  Touch(settingsPart_);
}

std::optional<QString> DocxDocument::Variable(const QString& name) {
  pugi::xml_node v = DocVar(name);
  if (!v) return std::nullopt;
  return QString::fromUtf8(v.attribute("w:val").value());
}

void DocxDocument::UpdateFields() {
  UpdateFieldsIn(mainPart_);
  for (const auto& p : RelatedParts("/header")) UpdateFieldsIn(p);
  for (const auto& p : RelatedParts("/footer")) UpdateFieldsIn(p);
}

void DocxDocument::UpdateFieldsIn(const std::string& partName) {
  struct Field {
    std::string instr;
    pugi::xml_node begin, separate;
    std::vector<pugi::xml_node> texts;  // w:t of its shown result
    bool inResult = false;
  };
  std::vector<Field> stack;
  bool changed = false;

  auto valueOf = [&](const QString& var) { return Utf8(Variable(var).value_or(QString())); };
  auto finish = [&](Field& f, pugi::xml_node end) {
    const QString var = DocVariableName(QString::fromUtf8(f.instr.c_str()));
    if (var.isEmpty()) return;
    const std::string value = valueOf(var);
    changed = true;
    if (!f.texts.empty()) {
      SetText(f.texts.front(), value);
      for (size_t i = 1; i < f.texts.size(); ++i) f.texts[i].text().set("");
      return;
    }
    // No shown result yet: add one (and the separator when the field has none).
    pugi::xml_node parent = end.parent();
    pugi::xml_node sep = f.separate;
    if (!sep) {
      sep = parent.insert_child_before("w:r", end);
      sep.append_child("w:fldChar").append_attribute("w:fldCharType") = "separate";
    }
    pugi::xml_node r = sep.parent().insert_child_after("w:r", sep);
    if (pugi::xml_node rPr = f.begin.child("w:rPr")) r.append_copy(rPr);
    SetText(r.append_child("w:t"), value);
  };

  // Walks the part in document order; fields may nest and may span paragraphs. Iterative, so
  // that no nesting a file may hold can exhaust the stack: `level` is the node whose children
  // are walked. The children of a run are its field characters, instruction and result texts,
  // and the drawings whose text boxes hold paragraphs of their own.
  pugi::xml_node root = Xml(partName);
  pugi::xml_node level = root;
  pugi::xml_node n = root.first_child();
  for (;;) {
    if (!n) {
      if (level == root) break;
      n = level.next_sibling();
      level = level.parent();
      continue;
    }
    bool descend = false;
    if (n.type() != pugi::node_element) {
      // nothing to do
    } else if (IsName(level, "w:r")) {
      pugi::xml_node run = level;
      if (IsName(n, "w:fldChar")) {
        const char* type = n.attribute("w:fldCharType").value();
        if (std::strcmp(type, "begin") == 0) {
          stack.push_back(Field{});
          stack.back().begin = run;
        } else if (std::strcmp(type, "separate") == 0 && !stack.empty()) {
          stack.back().separate = run;
          stack.back().inResult = true;
        } else if (std::strcmp(type, "end") == 0 && !stack.empty()) {
          Field f = std::move(stack.back());
          stack.pop_back();
          finish(f, run);
        }
      } else if (IsName(n, "w:instrText") && !stack.empty() && !stack.back().inResult) {
        stack.back().instr += n.text().get();
      } else if (IsName(n, "w:t") && !stack.empty() && stack.back().inResult) {
        stack.back().texts.push_back(n);
      } else if (IsName(n, "w:drawing") || IsName(n, "w:pict") ||
                 IsName(n, "mc:AlternateContent")) {
        descend = true;  // text boxes hold paragraphs of their own
      }
    } else if (IsName(n, "w:fldSimple")) {
      const QString var = DocVariableName(QString::fromUtf8(n.attribute("w:instr").value()));
      if (var.isEmpty()) {
        descend = true;
      } else {
        const std::string value = valueOf(var);
        changed = true;
        pugi::xpath_node_set ts = n.select_nodes(".//w:t");
        if (ts.empty()) {
          SetText(n.append_child("w:r").append_child("w:t"), value);
        } else {
          SetText(ts[0].node(), value);
          for (size_t i = 1; i < ts.size(); ++i) ts[i].node().text().set("");
        }
      }
    } else {
      descend = true;  // a run's children are walked as a run's
    }
    if (descend && n.first_child()) {
      level = n;
      n = n.first_child();
    } else {
      n = n.next_sibling();
    }
  }
  if (changed) Touch(partName);
}

const std::vector<pugi::xml_node>& DocxDocument::Tables() {
  if (!tablesScanned_) {
    CollectChildren(Xml(mainPart_).document_element().child("w:body"), "w:tbl", &tables_);
    tablesScanned_ = true;
  }
  return tables_;
}

int DocxDocument::TableCount() { return static_cast<int>(Tables().size()); }

std::vector<pugi::xml_node>& DocxDocument::Rows(int table) {
  auto it = rows_.find(table);
  if (it == rows_.end()) {
    it = rows_.emplace(table, std::vector<pugi::xml_node>()).first;
    if (table >= 1 && table <= TableCount())
      CollectChildren(Tables()[static_cast<std::size_t>(table - 1)], "w:tr", &it->second);
  }
  return it->second;
}

int DocxDocument::RowCount(int table) {
  const auto it = appended_.find(table);
  return static_cast<int>(Rows(table).size() +
                          (it == appended_.end() ? 0 : it->second.rows.size()));
}

pugi::xml_node DocxDocument::BeginRow(int table) {
  newRow_.reset();
  std::vector<pugi::xml_node>& rows = Rows(table);
  if (rows.empty()) return {};
  AppendedRows& appended = appended_[table];
  if (!appended.shape) {
    // The shape of the table's last row with empty cells, made once; every appended row is a copy.
    appended.shape = std::make_unique<pugi::xml_document>();
    pugi::xml_node row = appended.shape->append_copy(rows.back());
    row.remove_attribute("w14:paraId");
    row.remove_attribute("w14:textId");
    // A heading row repeats on every page; the rows added below it are data.
    if (pugi::xml_node trPr = row.child("w:trPr")) trPr.remove_child("w:tblHeader");
    for (pugi::xml_node c = row.first_child(); c;) {
      pugi::xml_node next = c.next_sibling();
      if (!IsName(c, "w:trPr") && !IsName(c, "w:tblPrEx") && !IsName(c, "w:tc") &&
          !IsTransparentWrapper(c))
        row.remove_child(c);  // bookmarks and the like belong to the original row
      c = next;
    }
    std::vector<pugi::xml_node> cells;
    CollectChildren(row, "w:tc", &cells);
    for (pugi::xml_node cell : cells) {
      // A cell that continued a vertical merge would fold the new row's content into the cell
      // above, where it is not shown: the new row stands on its own.
      cell.child("w:tcPr").remove_child("w:vMerge");
      std::vector<pugi::xml_node> paras = CellParagraphs(cell);
      pugi::xml_node first = paras.empty() ? pugi::xml_node() : paras.front();
      pugi::xml_node keep = NewParagraph(cell, {}, first.child("w:pPr"));
      for (pugi::xml_node c = cell.first_child(); c;) {
        pugi::xml_node next = c.next_sibling();
        if (c != keep && !IsName(c, "w:tcPr")) cell.remove_child(c);
        c = next;
      }
    }
  }
  newRow_ = std::make_unique<pugi::xml_document>();
  newRowTable_ = table;
  return newRow_->append_copy(appended.shape->first_child());
}

void DocxDocument::CommitRow() {
  if (!newRow_) return;
  AppendedRows& appended = appended_[newRowTable_];
  if (appended.marker.empty()) {
    // Unique in the document whatever the template holds: the instruction's name and number.
    std::string name;
    do {
      name = "kd735-rows-" + std::to_string(QRandomGenerator::global()->generate64());
    } while (Xml(mainPart_).find_node(
        [&](pugi::xml_node n) { return n.type() == pugi::node_pi && name == n.name(); }));
    pugi::xml_node last = Rows(newRowTable_).back();
    pugi::xml_node mark = last.parent().insert_child_after(pugi::node_pi, last);
    mark.set_name(name.c_str());
    mark.set_value(std::to_string(newRowTable_).c_str());
    appended.marker = "<?" + name + " " + std::to_string(newRowTable_) + "?>";
  }
  std::string xml;
  StringWriter w(&xml);
  newRow_->first_child().print(w, "", pugi::format_raw, pugi::encoding_utf8);
  QByteArray packed =
      qCompress(reinterpret_cast<const uchar*>(xml.data()), static_cast<qsizetype>(xml.size()), 1);
  packed.squeeze();  // made in a buffer of the worst case's size
  appended.rows.push_back(PackedRow{std::move(packed), xml.size()});
  newRow_.reset();
  Touch(mainPart_);
}

pugi::xml_node DocxDocument::RowCell(pugi::xml_node row, int column) {
  std::vector<pugi::xml_node> cells;
  CollectChildren(row, "w:tc", &cells);
  if (column < 1 || column > static_cast<int>(cells.size())) return {};
  return cells[static_cast<std::size_t>(column - 1)];
}

int DocxDocument::RowCellCount(pugi::xml_node row) {
  std::vector<pugi::xml_node> cells;
  CollectChildren(row, "w:tc", &cells);
  return static_cast<int>(cells.size());
}

std::vector<DocxDocument::Piece> DocxDocument::MainPartPieces(const std::string& text) {
  std::vector<std::pair<std::size_t, const AppendedRows*>> marks;
  for (const auto& [table, appended] : appended_) {
    if (appended.marker.empty()) continue;
    const std::size_t at = text.find(appended.marker);
    if (at != std::string::npos) marks.emplace_back(at, &appended);
  }
  std::sort(marks.begin(), marks.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<Piece> pieces;
  auto plain = [&pieces](std::string_view t) { pieces.push_back(Piece{t, nullptr, t.size()}); };
  std::size_t from = 0;
  for (const auto& [at, appended] : marks) {
    plain(std::string_view(text.data() + from, at - from));
    for (const PackedRow& row : appended->rows) pieces.push_back(Piece{{}, &row.packed, row.size});
    from = at + appended->marker.size();
  }
  plain(std::string_view(text.data() + from, text.size() - from));
  return pieces;
}

void DocxDocument::SetAlignment(const DocxRange& range, const char* justification) {
  pugi::xml_node cell = range.cell;
  std::vector<pugi::xml_node> paras = CellParagraphs(cell);
  if (paras.empty()) paras.push_back(cell.append_child("w:p"));
  if (range.kind == DocxRange::kStart) paras.resize(1);
  if (range.kind == DocxRange::kEnd) paras.erase(paras.begin(), paras.end() - 1);
  for (pugi::xml_node p : paras) {
    pugi::xml_node pPr = FirstChildOrPrepend(p, "w:pPr");
    SetVal(PropertyChild(pPr, "w:jc", kParagraphPropertyOrder), justification);
  }
  Touch(mainPart_);
}

void DocxDocument::InsertText(const DocxRange& range, const QString& text,
                              const DocxRunFormat& format) {
  const QStringList lines = SplitLines(XmlSafe(text));
  pugi::xml_node cell = range.cell;
  std::vector<pugi::xml_node> paras = CellParagraphs(cell);
  if (paras.empty()) paras.push_back(cell.append_child("w:p"));

  // The new text takes the format of the text it replaces or continues, then the given format.
  pugi::xml_node anchor = range.kind == DocxRange::kEnd ? paras.back() : paras.front();
  pugi::xml_document scratch;
  pugi::xml_node rPr = scratch.append_child("w:rPr");
  pugi::xpath_node_set runs = anchor.select_nodes(".//w:r/w:rPr");
  pugi::xml_node baseRPr = runs.empty()
                               ? anchor.child("w:pPr").child("w:rPr")
                               : runs[range.kind == DocxRange::kEnd ? runs.size() - 1 : 0].node();
  for (pugi::xml_node c : baseRPr.children())
    if (!IsName(c, "w:ins") && !IsName(c, "w:del") && !IsName(c, "w:rPrChange")) rPr.append_copy(c);
  ApplyRunFormat(rPr, format);
  pugi::xml_node pPrProto = anchor.child("w:pPr");

  auto withMark = [&](pugi::xml_node p) {
    pugi::xml_node pPr = FirstChildOrPrepend(p, "w:pPr");
    ApplyRunFormat(PropertyChild(pPr, "w:rPr", kParagraphPropertyOrder), format);
  };

  if (range.kind == DocxRange::kWholeCell) {
    pugi::xml_node prev;
    std::vector<pugi::xml_node> made;
    pugi::xml_node firstOld = cell.first_child();
    while (firstOld && IsName(firstOld, "w:tcPr")) firstOld = firstOld.next_sibling();
    for (const QString& line : lines) {
      pugi::xml_node p =
          prev ? cell.insert_child_after("w:p", prev)
               : (firstOld ? cell.insert_child_before("w:p", firstOld) : cell.append_child("w:p"));
      if (pPrProto) {
        pugi::xml_node copy = p.append_copy(pPrProto);
        copy.remove_child("w:sectPr");
        copy.remove_child("w:pPrChange");
      }
      withMark(p);
      AddLineRuns(p, {}, line, rPr);
      made.push_back(p);
      prev = p;
    }
    for (pugi::xml_node c = prev.next_sibling(); c;) {
      pugi::xml_node next = c.next_sibling();
      cell.remove_child(c);
      c = next;
    }
    for (pugi::xml_node c = cell.first_child(); c != made.front();) {
      pugi::xml_node next = c.next_sibling();
      if (!IsName(c, "w:tcPr")) cell.remove_child(c);
      c = next;
    }
  } else if (range.kind == DocxRange::kEnd) {
    pugi::xml_node p = paras.back();
    AddLineRuns(p, {}, lines.front(), rPr);
    for (qsizetype i = 1; i < lines.size(); ++i) {
      p = NewParagraph(cell, p, pPrProto);
      withMark(p);
      AddLineRuns(p, {}, lines[i], rPr);
    }
  } else {
    pugi::xml_node first = paras.front();
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
      pugi::xml_node p = cell.insert_child_before("w:p", first);
      if (pPrProto) p.append_copy(pPrProto).remove_child("w:sectPr");
      withMark(p);
      AddLineRuns(p, {}, lines[i], rPr);
    }
    pugi::xml_node before = first.first_child();
    while (before && IsName(before, "w:pPr")) before = before.next_sibling();
    AddLineRuns(first, before, lines.back(), rPr);
  }
  Touch(mainPart_);
}

void DocxDocument::AppendSummary(const QString& heading,
                                 const std::vector<std::pair<QString, QString>>& rows,
                                 const DocxRunFormat& format) {
  pugi::xml_node body = Xml(mainPart_).document_element().child("w:body");
  const std::vector<pugi::xml_node>& tables = Tables();
  pugi::xml_node after = tables.empty() ? pugi::xml_node() : tables.back();
  if (!after) {
    // The end of the text: before the body's own section properties.
    for (pugi::xml_node c = body.last_child(); c; c = c.previous_sibling())
      if (!IsName(c, "w:sectPr")) {
        after = c;
        break;
      }
  }
  auto insert = [&](const char* name) {
    // The last table may sit in a content control: the summary follows it there.
    pugi::xml_node n =
        after ? after.parent().insert_child_after(name, after) : body.prepend_child(name);
    after = n;
    return n;
  };
  pugi::xml_document scratch;
  pugi::xml_node rPr = scratch.append_child("w:rPr");
  ApplyRunFormat(rPr, format);
  DocxRunFormat boldFormat = format;
  boldFormat.bold = true;
  pugi::xml_node boldRPr = scratch.append_child("w:rPr");
  ApplyRunFormat(boldRPr, boldFormat);

  // The heading keeps with its table and stands a line apart from what is above it.
  pugi::xml_node title = insert("w:p");
  pugi::xml_node titleProps = title.append_child("w:pPr");
  PropertyChild(titleProps, "w:keepNext", kParagraphPropertyOrder);
  pugi::xml_node spacing = PropertyChild(titleProps, "w:spacing", kParagraphPropertyOrder);
  spacing.append_attribute("w:before") = "240";
  spacing.append_attribute("w:after") = "120";
  AddLineRuns(title, {}, XmlSafe(heading), boldRPr);

  constexpr int kColumnTwips = 4535;  // two columns across an A4 text width
  pugi::xml_node table = insert("w:tbl");
  pugi::xml_node tblPr = table.append_child("w:tblPr");
  pugi::xml_node width = tblPr.append_child("w:tblW");
  width.append_attribute("w:w") = "0";
  width.append_attribute("w:type") = "auto";
  pugi::xml_node borders = tblPr.append_child("w:tblBorders");
  for (const char* side : {"w:top", "w:left", "w:bottom", "w:right", "w:insideH", "w:insideV"}) {
    pugi::xml_node b = borders.append_child(side);
    b.append_attribute("w:val") = "single";
    b.append_attribute("w:sz") = "4";
    b.append_attribute("w:space") = "0";
    b.append_attribute("w:color") = "auto";
  }
  pugi::xml_node grid = table.append_child("w:tblGrid");
  for (int i = 0; i < 2; ++i) grid.append_child("w:gridCol").append_attribute("w:w") = kColumnTwips;
  for (const auto& [label, value] : rows) {
    pugi::xml_node tr = table.append_child("w:tr");
    for (const QString* text : {&label, &value}) {
      pugi::xml_node tc = tr.append_child("w:tc");
      pugi::xml_node tcW = tc.append_child("w:tcPr").append_child("w:tcW");
      tcW.append_attribute("w:w") = kColumnTwips;
      tcW.append_attribute("w:type") = "dxa";
      pugi::xml_node p = tc.append_child("w:p");
      ApplyRunFormat(PropertyChild(p.append_child("w:pPr"), "w:rPr", kParagraphPropertyOrder),
                     format);
      AddLineRuns(p, {}, XmlSafe(*text), rPr);
    }
  }
  // A table is always followed by a paragraph, or the next table would join it.
  if (!after.next_sibling() || !IsName(after.next_sibling(), "w:p")) insert("w:p");
  if (tablesScanned_) tables_.push_back(table);
  Touch(mainPart_);
}

bool DocxDocument::EnsureDrawingNamespaces(QString* error) {
  if (drawingNamespacesChecked_) return true;
  pugi::xml_node root = Xml(mainPart_).document_element();
  for (auto [prefix, uri] : {std::pair{"xmlns:wp", kWpNs}, std::pair{"xmlns:r", kRNs}}) {
    pugi::xml_attribute a = root.attribute(prefix);
    if (!a) {
      root.append_attribute(prefix) = uri;
    } else if (std::strcmp(a.value(), uri) != 0) {
      *error = QStringLiteral("документ использует префикс %1 не по стандарту")
                   .arg(QLatin1String(prefix));
      return false;
    }
  }
  drawingNamespacesChecked_ = true;
  return true;
}

unsigned DocxDocument::NextDrawingId() {
  // Drawing ids are unsigned 32-bit numbers, unique in the document: the next after the largest
  // one the template holds, or, should that be the largest there is, the first free one from 1.
  for (;;) {
    const std::uint32_t id = nextDrawingId_++;
    if (id != 0 && drawingIds_.insert(id).second) return id;
  }
}

std::string DocxDocument::NewRelationshipId(pugi::xml_node relsRoot) {
  if (!relIdsScanned_) {
    std::uint64_t largest = 0;
    for (pugi::xml_node r : relsRoot.children("Relationship")) {
      const std::string id = r.attribute("Id").value();
      relIds_.insert(id);
      if (id.starts_with("rId"))
        largest = std::max(largest, DecimalId(std::string_view(id).substr(3)));
    }
    nextRelNumber_ = largest + 1;  // at most 10^18: far from overflowing
    relIdsScanned_ = true;
  }
  for (;;) {
    std::string id = "rId" + std::to_string(nextRelNumber_++);
    if (relIds_.insert(id).second) return id;
  }
}

pugi::xml_node DocxDocument::AddImageRelationship(const QByteArray& png) {
  const std::string relsName = RelsPathOf(mainPart_);
  pugi::xml_document& rels = Xml(relsName);
  pugi::xml_node root = rels.child("Relationships");
  if (!root) {
    root = rels.append_child("Relationships");
    root.append_attribute("xmlns") = kRelsNs;
  }
  if (!pngTypeKnown_) {
    pugi::xml_node types = Xml("[Content_Types].xml").child("Types");
    bool found = false;
    for (pugi::xml_node d : types.children("Default"))
      if (QString::fromUtf8(d.attribute("Extension").value())
              .compare(u"png", Qt::CaseInsensitive) == 0)
        found = true;
    if (!found) {
      pugi::xml_node d = types.prepend_child("Default");
      d.append_attribute("Extension") = "png";
      d.append_attribute("ContentType") = "image/png";
      Touch("[Content_Types].xml");
    }
    pngTypeKnown_ = true;
  }
  // In the media folder; beside the main part should a part of the template be called "media".
  const std::string folder = CanAddPart(mainDir_ + "media/x") ? mainDir_ + "media/" : mainDir_;
  std::string media;
  do {
    media = folder + "kd735_image" + std::to_string(nextMediaNumber_++) + ".png";
  } while (!CanAddPart(media));
  AddPart(media, std::string(png.constData(), static_cast<std::size_t>(png.size()))).store = true;

  const std::string id = NewRelationshipId(root);
  pugi::xml_node rel = root.append_child("Relationship");
  rel.append_attribute("Id") = id.c_str();
  rel.append_attribute("Type") = (std::string(kRelTypeBase) + "image").c_str();
  rel.append_attribute("Target") = media.substr(mainDir_.size()).c_str();
  Touch(relsName);
  return rel;
}

bool DocxDocument::InsertPicture(const DocxRange& range, const QByteArray& png, int widthPx,
                                 int heightPx, QString* error) {
  if (!EnsureDrawingNamespaces(error)) return false;
  const QByteArray digest = QCryptographicHash::hash(png, QCryptographicHash::Sha1);
  QString relId = pictureRels_.value(digest);
  if (relId.isEmpty()) {
    pugi::xml_node rel = AddImageRelationship(png);
    relId = QString::fromUtf8(rel.attribute("Id").value());
    pictureRels_.insert(digest, relId);
  }
  if (!pictureRun_.first_child()) {
    static const char kRun[] =
        "<w:r><w:drawing><wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\">"
        "<wp:extent cx=\"0\" cy=\"0\"/><wp:effectExtent l=\"0\" t=\"0\" r=\"0\" b=\"0\"/>"
        "<wp:docPr id=\"0\" name=\"\"/><wp:cNvGraphicFramePr>"
        "<a:graphicFrameLocks xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "noChangeAspect=\"1\"/></wp:cNvGraphicFramePr>"
        "<a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
        "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">"
        "<pic:pic xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\">"
        "<pic:nvPicPr><pic:cNvPr id=\"0\" name=\"\"/><pic:cNvPicPr/></pic:nvPicPr>"
        "<pic:blipFill><a:blip r:embed=\"\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
        "<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"0\" cy=\"0\"/></a:xfrm>"
        "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData>"
        "</a:graphic></wp:inline></w:drawing></w:r>";
    pictureRun_.load_string(kRun, pugi::parse_default);
  }

  pugi::xml_node cell = range.cell;
  std::vector<pugi::xml_node> paras = CellParagraphs(cell);
  pugi::xml_node p;
  if (range.kind == DocxRange::kWholeCell) {
    pugi::xml_node pPr = paras.empty() ? pugi::xml_node() : paras.front().child("w:pPr");
    p = NewParagraph(cell, {}, pPr);
    for (pugi::xml_node c = cell.first_child(); c;) {
      pugi::xml_node next = c.next_sibling();
      if (c != p && !IsName(c, "w:tcPr")) cell.remove_child(c);
      c = next;
    }
  } else {
    p = paras.empty() ? cell.append_child("w:p")
                      : (range.kind == DocxRange::kEnd ? paras.back() : paras.front());
  }
  pugi::xml_node r;
  if (range.kind == DocxRange::kStart) {
    pugi::xml_node before = p.first_child();
    while (before && IsName(before, "w:pPr")) before = before.next_sibling();
    r = before ? p.insert_copy_before(pictureRun_.first_child(), before)
               : p.append_copy(pictureRun_.first_child());
  } else {
    r = p.append_copy(pictureRun_.first_child());
  }

  const long long cx = widthPx * kEmuPerPixel, cy = heightPx * kEmuPerPixel;
  const unsigned id = NextDrawingId();
  const std::string name = "Picture " + std::to_string(id);
  pugi::xml_node inl = r.child("w:drawing").child("wp:inline");
  inl.child("wp:extent").attribute("cx").set_value(cx);
  inl.child("wp:extent").attribute("cy").set_value(cy);
  inl.child("wp:docPr").attribute("id").set_value(id);
  inl.child("wp:docPr").attribute("name").set_value(name.c_str());
  pugi::xml_node pic = inl.child("a:graphic").child("a:graphicData").child("pic:pic");
  pic.child("pic:nvPicPr").child("pic:cNvPr").attribute("name").set_value(name.c_str());
  pic.child("pic:blipFill").child("a:blip").attribute("r:embed").set_value(Utf8(relId).c_str());
  pugi::xml_node ext = pic.child("pic:spPr").child("a:xfrm").child("a:ext");
  ext.attribute("cx").set_value(cx);
  ext.attribute("cy").set_value(cy);
  Touch(mainPart_);
  return true;
}

}  // namespace kd735
