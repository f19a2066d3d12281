#pragma once

// Test-side reader of .docx files: unpacks a package and parses its parts with pugixml, apart
// from the engine's own code, so the tests see what Word or LibreOffice would see.
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <zip.h>
#include <pugixml.hpp>

namespace kd735::testing {

class DocxReader {
 public:
  explicit DocxReader(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    bytes_ = f.readAll();
    zip_error_t ze;
    zip_error_init(&ze);
    zip_source_t* src = zip_source_buffer_create(bytes_.constData(),
                                                 static_cast<zip_uint64_t>(bytes_.size()), 0, &ze);
    zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &ze) : nullptr;
    zip_error_fini(&ze);
    if (!za) {
      if (src) zip_source_free(src);
      return;
    }
    const auto entries =
        static_cast<zip_uint64_t>(std::max<zip_int64_t>(0, zip_get_num_entries(za, 0)));
    for (zip_uint64_t i = 0; i < entries; ++i) {
      zip_stat_t st;
      zip_stat_index(za, i, 0, &st);
      std::string data(st.size, '\0');
      zip_file_t* zf = zip_fopen_index(za, i, 0);
      if (!zf || zip_fread(zf, data.data(), st.size) != static_cast<zip_int64_t>(st.size)) {
        if (zf) zip_fclose(zf);
        zip_discard(za);
        return;
      }
      zip_fclose(zf);
      names_.push_back(st.name);
      parts_[st.name] = std::move(data);
    }
    zip_discard(za);
    ok_ = true;
  }

  bool ok() const { return ok_; }
  const std::vector<std::string>& names() const { return names_; }
  bool has(const std::string& name) const { return parts_.count(name) != 0; }
  const std::string& raw(const std::string& name) const { return parts_.at(name); }

  // The parsed part; fails the parse check (null document element) when it is not well-formed.
  pugi::xml_node xml(const std::string& name) {
    auto& d = docs_[name];
    if (!d) {
      d = std::make_unique<pugi::xml_document>();
      if (!has(name)) return {};
      const std::string& s = parts_.at(name);
      if (!d->load_buffer(s.data(), s.size(), pugi::parse_default | pugi::parse_ws_pcdata))
        d->reset();
    }
    return d->document_element();
  }
  pugi::xml_node body() { return xml("word/document.xml").child("w:body"); }

  // Top-level tables of the body.
  std::vector<pugi::xml_node> tables() {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node t : body().children("w:tbl")) out.push_back(t);
    return out;
  }
  static std::vector<pugi::xml_node> rows(pugi::xml_node table) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node r : table.children("w:tr")) out.push_back(r);
    return out;
  }
  static std::vector<pugi::xml_node> cells(pugi::xml_node row) {
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c : row.children("w:tc")) out.push_back(c);
    return out;
  }
  // The text of each paragraph of a node (runs' w:t joined).
  static std::vector<QString> paragraphs(pugi::xml_node node) {
    std::vector<QString> out;
    for (pugi::xpath_node p : node.select_nodes(".//w:p")) {
      QString text;
      for (pugi::xpath_node t : p.node().select_nodes(".//w:t"))
        text += QString::fromUtf8(t.node().text().get());
      out.push_back(text);
    }
    return out;
  }
  static QString text(pugi::xml_node node) {
    QString out;
    for (pugi::xpath_node t : node.select_nodes(".//w:t"))
      out += QString::fromUtf8(t.node().text().get());
    return out;
  }

  QString docVar(const QString& name) {
    for (pugi::xml_node v : xml("word/settings.xml").child("w:docVars").children("w:docVar"))
      if (QString::fromUtf8(v.attribute("w:name").value()) == name)
        return QString::fromUtf8(v.attribute("w:val").value());
    return QStringLiteral("<unset>");
  }

  // The picture an a:blip in `node` points to, decoded.
  QImage picture(pugi::xml_node blip) {
    const std::string id = blip.attribute("r:embed").value();
    for (pugi::xml_node r : xml("word/_rels/document.xml.rels").children("Relationship")) {
      if (id != r.attribute("Id").value()) continue;
      const std::string target = std::string("word/") + r.attribute("Target").value();
      if (!has(target)) return {};
      const std::string& data = parts_.at(target);
      return QImage::fromData(QByteArray(data.data(), static_cast<qsizetype>(data.size())), "PNG");
    }
    return {};
  }

  // Writes the package to `path` with some parts replaced (test templates made from others).
  // Parts named in `dropped` are left out, those in `added` come after the others.
  bool WriteWith(const QString& path, const std::map<std::string, std::string>& replaced,
                 const std::set<std::string>& dropped = {},
                 const std::vector<std::pair<std::string, std::string>>& added = {}) const {
    int err = 0;
    zip_t* za = zip_open(path.toLocal8Bit().constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za) return false;
    auto add = [za](const std::string& name, const std::string& data) {
      zip_source_t* s = zip_source_buffer(za, data.data(), data.size(), 0);
      if (s && zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8) >= 0) return true;
      if (s) zip_source_free(s);
      return false;
    };
    for (const auto& name : names_) {
      if (dropped.contains(name)) continue;
      auto it = replaced.find(name);
      if (!add(name, it != replaced.end() ? it->second : parts_.at(name))) {
        zip_discard(za);
        return false;
      }
    }
    for (const auto& [name, data] : added) {
      if (!add(name, data)) {
        zip_discard(za);
        return false;
      }
    }
    return zip_close(za) == 0;
  }

 private:
  QByteArray bytes_;
  bool ok_ = false;
  std::vector<std::string> names_;
  std::map<std::string, std::string> parts_;
  std::map<std::string, std::unique_ptr<pugi::xml_document>> docs_;
};

// What python-docx (Debian's own /usr/bin/python3) reads from a .docx, an independent reader:
// lines "var NAME VALUE", "row TABLE cell|cell|..." (line breaks in a cell as "/") and
// "shape WIDTH HEIGHT" (EMU). Nothing when python-docx is not installed; `error` then says so,
// or holds what went wrong.
inline std::optional<QStringList> PythonDocxSummary(const QString& path, QString* error) {
  QProcess probe;
  probe.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral("-c"), QStringLiteral("import docx")});
  if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit ||
      probe.exitCode() != 0) {
    *error = QStringLiteral("python3-docx is not installed");
    return std::nullopt;
  }
  const char* script = R"(
import sys, docx
d = docx.Document(sys.argv[1])
ns = '{http://schemas.openxmlformats.org/wordprocessingml/2006/main}'
for v in d.settings.element.iter(ns + 'docVar'):
    print('var', v.get(ns + 'name'), v.get(ns + 'val'))
for i, t in enumerate(d.tables):
    for r in t.rows:
        print('row', i + 1, '|'.join(c.text.replace('\n', '/') for c in r.cells))
for s in d.inline_shapes:
    print('shape', s.width, s.height)
)";
  QProcess py;
  py.start(QStringLiteral("/usr/bin/python3"),
           {QStringLiteral("-c"), QString::fromUtf8(script), path});
  if (!py.waitForFinished(60000) || py.exitCode() != 0) {
    *error = QString::fromUtf8(py.readAllStandardError());
    return QStringList();
  }
  return QString::fromUtf8(py.readAllStandardOutput()).split(u'\n');
}

}  // namespace kd735::testing
