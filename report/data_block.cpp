#include "report/data_block.h"

namespace kd735 {

namespace {

const QString kBlank = QStringLiteral(" ");

// The lines both block kinds share: the head and the optional tail groups.
void AddHead(QStringList& lines, RecordView record, bool instrument, bool name, bool date,
             const QLocale& locale) {
  if (instrument) lines << InstrumentLine(record);
  if (name) lines << QStringLiteral("Имя  файла  ") + NameAndNumberText(record, locale);
  if (date) lines << DateLine(record);
}

void AddTail(QStringList& lines, RecordView record, bool sweep, bool scale, bool probe,
             const QLocale& locale) {
  if (sweep) lines << kBlank << SweepHeading() << DelayLine(record) << WidthLine(record);
  if (scale) {
    lines << kBlank << ScaleHeading() << VelocityLine(record, locale)
          << ProbeDelayLine(record, locale);
  }
  if (probe) lines << kBlank << ProbeHeading() << ProbeLine(record);
}

}  // namespace

BlockText BuildMeasureBlock(RecordView record, const ReportSettings& settings,
                            const QLocale& locale) {
  const MeasureBlockSettings& m = settings.measure;
  BlockText block{{}, settings.font};
  AddHead(block.lines, record, m.instrumentLine, m.fileNameLine, m.dateLine, locale);
  block.lines << kBlank << QStringLiteral("ИЗМЕРЕНИЕ") << ThicknessLine(record, locale);
  if (m.stateLine) block.lines << StateLine(record);
  AddTail(block.lines, record, m.sweepLines, m.scaleLines, m.probeLines, locale);
  return block;
}

BlockText BuildBscanBlock(RecordView record, const ReportSettings& settings,
                          const QLocale& locale) {
  const BscanBlockSettings& b = settings.bscan;
  BlockText block{{}, settings.font};
  AddHead(block.lines, record, b.instrumentLine, b.fileNameLine, b.dateLine, locale);
  block.lines << kBlank << QStringLiteral("В-скан") << ScanLengthLine(record, locale);
  if (b.speedLine) block.lines << SpeedLine(record);
  block.lines << RangeHeading() << RangeLowerLine(record, locale) << RangeUpperLine(record, locale);
  AddTail(block.lines, record, b.sweepLines, b.scaleLines, b.probeLines, locale);
  return block;
}

QString BlockTextForDocument(const BlockText& block) {
  QString text;
  for (const QString& line : block.lines) text += line + QStringLiteral("\r\n");
  return text;
}

}  // namespace kd735
