#include "files/instrument_entry.h"

namespace kd735 {

InstrumentFileEntry MakeInstrumentFileEntry(const InstrumentFile& file, const QLocale& locale) {
  InstrumentFileEntry entry;
  entry.text =
      FormatNumber(QStringLiteral("000  "), file.number, locale) + FileListName(file.bytes, locale);
  entry.content = CreateFileContent(file.bytes);
  entry.incomplete = !file.Complete();
  return entry;
}

}  // namespace kd735
