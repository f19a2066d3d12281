// The report's template path: open, the three variables, the fields update, a row with its
// number, picture and text lines in each of the first two tables, save, and the result opened
// again. Input: a .docx (starting "PK"), or its parts as text, each opened by a line
// "=== <part name>" (easier for the fuzzer to change than a zip archive).
#include <QByteArray>
#include <QImage>

#include <zip.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "files/bitmap_file.h"
#include "fuzz/fuzz_check.h"
#include "report/docx_document.h"

using namespace kd735;
using kd735::fuzz::Require;

namespace {

std::vector<std::pair<std::string, std::string>> SplitParts(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> parts;
  size_t at = text.starts_with("=== ") ? 0 : text.find("\n=== ");
  while (at != std::string::npos) {
    const size_t nameStart = at + (text.compare(at, 4, "=== ") == 0 ? 4 : 5);
    const size_t nameEnd = text.find('\n', nameStart);
    if (nameEnd == std::string::npos) break;
    const size_t next = text.find("\n=== ", nameEnd);
    parts.emplace_back(text.substr(nameStart, nameEnd - nameStart),
                       text.substr(nameEnd + 1, next == std::string::npos ? std::string::npos
                                                                          : next - nameEnd - 1));
    at = next;
  }
  return parts;
}

// The parts as a stored (uncompressed) zip archive; empty when libzip refuses a name.
QByteArray Zip(const std::vector<std::pair<std::string, std::string>>& parts) {
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, nullptr);
  zip_t* za = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, nullptr) : nullptr;
  if (!za) {
    if (buffer) zip_source_free(buffer);
    return {};
  }
  zip_source_keep(buffer);
  for (const auto& [name, data] : parts) {
    zip_source_t* s = zip_source_buffer(za, data.data(), data.size(), 0);
    const zip_int64_t index = s ? zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
      if (s) zip_source_free(s);
      continue;  // a name libzip takes twice or not at all: the part is left out
    }
    zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_STORE, 0);
  }
  QByteArray out;
  if (zip_close(za) != 0) {
    zip_discard(za);
  } else if (zip_source_open(buffer) == 0) {
    zip_source_seek(buffer, 0, SEEK_END);
    const zip_int64_t size = zip_source_tell(buffer);
    zip_source_seek(buffer, 0, SEEK_SET);
    out.resize(qsizetype(std::max<zip_int64_t>(size, 0)));
    if (size > 0 && zip_source_read(buffer, out.data(), static_cast<zip_uint64_t>(size)) != size)
      out.clear();
    zip_source_close(buffer);
  }
  zip_source_free(buffer);
  return out;
}

const QByteArray& Png() {
  static const QByteArray png = [] {
    QImage image(134, 70, QImage::Format_RGB32);
    image.fill(Qt::white);
    return EncodeImage(image, "PNG");
  }();
  return png;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const QByteArray bytes =
      input.starts_with("PK") ? QByteArray(input.data(), qsizetype(size)) : Zip(SplitParts(input));
  QString error;
  std::unique_ptr<DocxDocument> doc = DocxDocument::Load(bytes, &error);
  if (!doc) {
    Require(!error.isEmpty(), "a refusal says why");
    return 0;
  }
  doc->SetVariable(QStringLiteral("NUMBER"), QStringLiteral("0001"));
  doc->SetVariable(QStringLiteral("TIMEDATA"), QStringLiteral("10.12.2024"));
  doc->SetVariable(QStringLiteral("DEVNUM"), QStringLiteral("KD735 N <00123>\x01&"));
  doc->UpdateFields();

  const int tables = doc->TableCount();
  std::vector<int> rowsAfter;
  for (int t = 1; t <= std::min(tables, 2); ++t) {
    const int before = doc->RowCount(t);
    const pugi::xml_node row = doc->BeginRow(t);
    if (!row) {
      Require(before == 0, "a table with rows takes a new one");
      rowsAfter.push_back(0);
      continue;
    }
    DocxRunFormat font;
    font.fontName = QStringLiteral("Times New Roman");
    font.halfPoints = 20;
    font.bold = true;
    font.italic = false;
    font.color = QStringLiteral("auto");
    if (pugi::xml_node cell = DocxDocument::RowCell(row, 1)) {
      doc->SetAlignment({cell, DocxRange::kWholeCell}, "center");
      doc->InsertText({cell, DocxRange::kWholeCell}, QStringLiteral("1"), {});
    }
    if (pugi::xml_node cell = DocxDocument::RowCell(row, 2)) {
      doc->SetAlignment({cell, DocxRange::kWholeCell}, "both");
      QString pictureError;
      doc->InsertPicture({cell, DocxRange::kWholeCell}, Png(), 134, 70, &pictureError);
      doc->InsertPicture({cell, DocxRange::kEnd}, Png(), 134, 70, &pictureError);
    }
    if (pugi::xml_node cell = DocxDocument::RowCell(row, 3)) {
      doc->SetAlignment({cell, DocxRange::kWholeCell}, "left");
      doc->InsertText({cell, DocxRange::kWholeCell},
                      QStringLiteral("Имя  файла  TEST0001 N005\r\n \r\nH = 12,34 мм\r\n"), font);
      doc->InsertText({cell, DocxRange::kEnd}, QStringLiteral("end\ta\vb"), font);
      doc->InsertText({cell, DocxRange::kStart}, QStringLiteral("start\r\nx"), font);
    }
    doc->CommitRow();
    const int rows = doc->RowCount(t);
    Require(rows == before + 1, "a committed row is one more row");
    rowsAfter.push_back(rows);
  }

  const QByteArray saved = doc->Save(&error);
  Require(!saved.isEmpty(), "the report is written", error);
  std::unique_ptr<DocxDocument> again = DocxDocument::Load(saved, &error);
  // A report made from a template nested close to the bound may pass it by the few levels a
  // picture adds; that refusal is the bound's, any other would be a broken report.
  if (!again) {
    Require(error.contains(QStringLiteral("глубже")), "the report opens again", error);
    return 0;
  }
  Require(again->Variable(QStringLiteral("NUMBER")) == QStringLiteral("0001"), "NUMBER kept");
  Require(again->TableCount() == tables, "the tables stay");
  for (int t = 1; t <= int(rowsAfter.size()); ++t)
    Require(again->RowCount(t) == rowsAfter[std::size_t(t - 1)], "the rows stay");
  return 0;
}
