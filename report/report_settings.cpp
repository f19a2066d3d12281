#include "report/report_settings.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace kd735 {

BlockFont BlockFontFromChoice(const QFont& chosen) {
  BlockFont font;
  font.name = chosen.family();
  const double points = chosen.pointSizeF();  // -1 when the font was given in pixels
  font.size = ClampToRange(points > 0 ? std::llround(points) : 0, kFontSizeRange);
  font.bold = chosen.weight() >= QFont::Bold;
  font.italic = chosen.italic();
  return font;
}

ReportSettings ReportSettings::Clamped() const {
  ReportSettings s = *this;
  s.documentNumber = ClampToRange(s.documentNumber, kDocumentNumberRange);
  s.font.size = ClampToRange(s.font.size, kFontSizeRange);
  s.measure.tablePosition = ClampToRange(s.measure.tablePosition, kTablePositionRange);
  s.bscan.tablePosition = ClampToRange(s.bscan.tablePosition, kTablePositionRange);
  return s;
}

ReportSettings WithAllOptionalLines(ReportSettings s, bool on) {
  s.measure.instrumentLine = s.measure.fileNameLine = s.measure.dateLine = s.measure.stateLine =
      s.measure.sweepLines = s.measure.scaleLines = s.measure.probeLines = on;
  s.bscan.instrumentLine = s.bscan.fileNameLine = s.bscan.dateLine = s.bscan.speedLine =
      s.bscan.sweepLines = s.bscan.scaleLines = s.bscan.probeLines = on;
  return s;
}

QString DefaultReportsFolder() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
      .filePath(QStringLiteral("KD735"));
}

}  // namespace kd735
