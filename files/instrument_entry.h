#pragma once

#include <QLocale>
#include <QString>
#include <memory>

#include "files/file_record.h"
#include "files/user_locale.h"
#include "link/file_reading.h"

namespace kd735 {

// A file read from the instrument as its list shows and keeps it.
struct InstrumentFileEntry {
  QString text;  // "001  TEST0001 N005": running number, two blanks, FileListName
  std::unique_ptr<TKD735FileContent> content;
  // Not all 128 packets came: the missing parts of the record are zero. The list can mark it.
  bool incomplete = false;
};

InstrumentFileEntry MakeInstrumentFileEntry(const InstrumentFile& file,
                                            const QLocale& locale = UserLocale());

}  // namespace kd735
