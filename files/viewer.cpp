#include "files/viewer.h"

namespace kd735 {

namespace {

constexpr bool kBold = true, kRegular = false, kBlue = true, kBlack = false;

}  // namespace

Description DescribeRecord(RecordView record, const QLocale& locale) {
  Description d;
  auto add = [&d](const QString& text, bool bold, bool blue) {
    d.lines.append({text, bold, blue});
  };
  const QString blank = QStringLiteral(" ");
  const std::uint8_t kind = record[field::kFileKind];

  add(InstrumentLine(record), kBold, kBlack);
  add(blank, kBold, kBlack);
  add(KindHeadingText(kind), kBold, kBlue);
  if (!IsKnownKind(kind)) return d;
  d.drawPicture = true;

  add(QStringLiteral("Имя  ") + NameAndNumberText(record, locale), kBold, kBlack);
  add(DateLine(record), kRegular, kBlack);
  add(blank, kRegular, kBlack);
  if (kind == kMeasureKind) {
    add(QStringLiteral("ИЗМЕРЕНИЕ"), kBold, kBlue);
    add(ThicknessLine(record, locale), kBold, kBlack);
    add(StateLine(record), kBold, kBlack);
  } else if (kind == kBscanKind) {
    add(QStringLiteral("В-СКАН"), kBold, kBlue);
    add(ScanLengthLine(record, locale), kBold, kBlack);
    add(SpeedLine(record), kBold, kBlack);
    add(RangeHeading(), kBold, kBlack);
    add(RangeLowerLine(record, locale), kBold, kBlack);
    add(RangeUpperLine(record, locale), kBold, kBlack);
  }
  // This blank keeps the format in force: that of the line before it.
  add(blank, d.lines.last().bold, d.lines.last().blue);
  add(SweepHeading(), kBold, kBlue);
  add(DelayLine(record), kBold, kBlue);
  add(WidthLine(record), kBold, kBlue);
  add(blank, kBold, kBlue);
  add(ScaleHeading(), kBold, kBlue);
  add(VelocityLine(record, locale), kRegular, kBlue);
  add(ProbeDelayLine(record, locale), kRegular, kBlue);
  add(blank, kRegular, kBlue);
  add(ProbeHeading(), kBold, kBlue);
  add(ProbeLine(record), kRegular, kBlack);
  add(FrequencyLine(record), kRegular, kBlack);
  add(blank, kRegular, kBlack);
  return d;
}

QString StyleName(const DescriptionLine& line) {
  return QString::fromLatin1(line.bold ? "bold-" : "regular-") +
         QString::fromLatin1(line.blue ? "blue" : "black");
}

}  // namespace kd735
