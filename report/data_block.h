#pragma once

#include <QLocale>
#include <QStringList>

#include "files/file_record.h"
#include "files/user_locale.h"
#include "report/report_settings.h"

// The text of a data block: the lines that go into the block's third cell and their font. The
// builders read every field at its fixed offset whatever the record's kind says.
namespace kd735 {

struct BlockText {
  QStringList lines;
  BlockFont font;
};

// Lines of a measurement block, by the measurement settings: instrument, name and number, date
// (optional); " ", "ИЗМЕРЕНИЕ", thickness; state (optional); then the optional sweep, scale and
// probe groups, each opened by " ". The probe frequency is in no block.
BlockText BuildMeasureBlock(RecordView record, const ReportSettings& settings,
                            const QLocale& locale = UserLocale());

// Lines of a B-scan block, by the B-scan settings: instrument, name and number, date (optional);
// " ", "В-скан", length; speed (optional); range heading and both range lines; then the optional
// sweep, scale and probe groups.
BlockText BuildBscanBlock(RecordView record, const ReportSettings& settings,
                          const QLocale& locale = UserLocale());

// The text handed to the word processor: every line followed by CR LF, the last one included.
QString BlockTextForDocument(const BlockText& block);

}  // namespace kd735
