#pragma once

#include <QList>
#include <QString>

#include "files/file_record.h"
#include "files/user_locale.h"

// The viewer's description of a record as data: the ordered lines with their character format.
namespace kd735 {

struct DescriptionLine {
  QString text;  // blank lines hold one blank character
  bool bold = false;
  bool blue = false;  // otherwise black

  bool operator==(const DescriptionLine&) const = default;
};

struct Description {
  QList<DescriptionLine> lines;
  // False for an unrecognised kind: the description stops after "Неизвестный Файл" and the caller
  // leaves the picture as it was instead of drawing this record's picture.
  bool drawPicture = false;
};

// The description shown for a record: instrument line, kind heading, name and date, the kind's own
// block (measurement or B-scan), then sweep, scale and probe blocks with the probe frequency.
Description DescribeRecord(RecordView record, const QLocale& locale = UserLocale());

// "bold-black", "bold-blue", "regular-black" or "regular-blue".
QString StyleName(const DescriptionLine& line);

}  // namespace kd735
