// Builds a .docx from its XML sources: pack_docx OUT SOURCE_DIR PART...
// XML parts are written without the indentation and comments of the sources; the parts are
// stored in the order given ([Content_Types].xml first, as Word writes it).
#include <zip.h>
#include <pugixml.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <list>
#include <sstream>
#include <string>

namespace {

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: pack_docx OUT SOURCE_DIR PART...\n");
    return 2;
  }
  const std::string out = argv[1], dir = argv[2];
  const std::string tmp = out + ".tmp";
  std::remove(tmp.c_str());
  int err = 0;
  zip_t* za = zip_open(tmp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (!za) {
    std::fprintf(stderr, "pack_docx: cannot create %s\n", tmp.c_str());
    return 1;
  }
  std::list<std::string> keep;  // libzip reads the buffers at zip_close
  for (int i = 3; i < argc; ++i) {
    const std::string part = argv[i];
    std::ifstream in(dir + "/" + part, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "pack_docx: cannot read %s\n", part.c_str());
      zip_discard(za);
      return 1;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (EndsWith(part, ".xml") || EndsWith(part, ".rels")) {
      pugi::xml_document doc;
      // Whitespace-only text is kept where it is an element's only content (<w:t> </w:t>).
      const auto r = doc.load_buffer(
          data.data(), data.size(),
          pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_declaration);
      if (!r) {
        std::fprintf(stderr, "pack_docx: %s: %s at %td\n", part.c_str(), r.description(), r.offset);
        zip_discard(za);
        return 1;
      }
      StringWriter w;
      doc.save(w, "", pugi::format_raw, pugi::encoding_utf8);
      data = std::move(w.out);
    }
    keep.push_back(std::move(data));
    zip_source_t* s = zip_source_buffer(za, keep.back().data(), keep.back().size(), 0);
    const zip_int64_t idx = s ? zip_file_add(za, part.c_str(), s, ZIP_FL_ENC_UTF_8) : -1;
    if (idx < 0) {
      if (s) zip_source_free(s);
      std::fprintf(stderr, "pack_docx: %s: %s\n", part.c_str(), zip_strerror(za));
      zip_discard(za);
      return 1;
    }
    // A fixed date keeps the output reproducible.
    zip_file_set_mtime(za, static_cast<zip_uint64_t>(idx), 315532800, 0);
  }
  if (zip_close(za) != 0) {
    std::fprintf(stderr, "pack_docx: %s\n", zip_strerror(za));
    zip_discard(za);
    return 1;
  }
  if (std::rename(tmp.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "pack_docx: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
