// Record decoding and every text made from it: the viewer's description, the block lines of both
// kinds, the list name and entry, the save name and the picture. Input: up to 4096 record bytes;
// bytes past them are a number pattern for FormatNumber.
#include <QImage>
#include <QLocale>

#include <algorithm>
#include <cstring>

#include "files/file_record.h"
#include "files/instrument_entry.h"
#include "files/local_file.h"
#include "files/picture.h"
#include "files/viewer.h"
#include "fuzz/fuzz_check.h"
#include "report/data_block.h"

using namespace kd735;
using kd735::fuzz::Require;
using kd735::fuzz::RequireVisible;

namespace {

void CheckPicture(RecordView record, bool inverted) {
  const QImage image = RenderPicture(record, inverted);
  Require(image.size() == QSize(kPictureWidth, kPictureHeight), "picture size");
  const QRgb frame = kPictureFrame.rgb();
  const QRgb lit = PictureLit(inverted).rgb(), unlit = PictureBackground(inverted).rgb();
  for (int x = 0; x < kPictureWidth; ++x)
    Require(image.pixel(x, 0) == frame && image.pixel(x, kPictureHeight - 1) == frame, "frame");
  // Column c is the 64-bit big-endian number at 1109 + 8c; bit r is row r.
  for (int c = 0; c < kRecordPictureColumns; ++c) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = v << 8 | record[std::size_t(field::kPictureData + 8 * c + i)];
    for (int r = 0; r < kRecordPictureRows; ++r)
      Require(image.pixel(c + kPictureMargin, r + kPictureMargin) == ((v >> r & 1) ? lit : unlit),
              "picture pixel");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FileRecord record{};
  std::copy_n(data, std::min<std::size_t>(size, record.size()), record.begin());
  const RecordView view(record);
  static const QLocale kRu(QLocale::Russian, QLocale::Russia);
  static const QLocale kC = QLocale::c();
  const ReportSettings all = WithAllOptionalLines(ReportSettings{}, true);

  for (const QLocale* locale : {&kRu, &kC}) {
    const Description d = DescribeRecord(view, *locale);
    Require(!d.lines.isEmpty(), "description has lines");
    for (const DescriptionLine& line : d.lines) RequireVisible(line.text, "description line");
    for (const BlockText& block :
         {BuildMeasureBlock(view, all, *locale), BuildBscanBlock(view, all, *locale)}) {
      for (const QString& line : block.lines) RequireVisible(line, "block line");
      Require(BlockTextForDocument(block).count(QStringLiteral("\r\n")) == block.lines.size(),
              "one line break per block line");
    }
    const QString listName = FileListName(view, *locale);
    RequireVisible(listName, "list name");

    InstrumentFile file;
    std::copy(record.begin(), record.end(), file.bytes.begin());
    file.number = int(record[0]) + 1;
    const InstrumentFileEntry entry = MakeInstrumentFileEntry(file, *locale);
    RequireVisible(entry.text, "list entry");
    Require(entry.text.endsWith(listName), "entry ends with the list name");
    for (ListKind kind : {ListKind::Measure, ListKind::Bscan}) {
      const QString name = SafeFileName(DefaultSaveName(entry.text, kind).trimmed());
      Require(!name.contains(u'/') && name != u"." && name != u"..",
              "save name stays in its folder", name);
    }
  }
  CheckPicture(view, false);
  CheckPicture(view, true);

  if (size > record.size()) {
    const QString pattern = QString::fromUtf8(reinterpret_cast<const char*>(data) + record.size(),
                                              qsizetype(size - record.size()));
    FormatNumber(pattern, ReadInt32BE(view, 0) / 100.0, kRu);
  }
  return 0;
}
