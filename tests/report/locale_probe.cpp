// Prints what the libraries' default locale makes of a date and of a measurement's thickness,
// one value a line, for the locale test to run under different session locales.
#include <QCoreApplication>
#include <QDate>
#include <QTextStream>

#include "files/file_record.h"
#include "files/user_locale.h"
#include "report/data_block.h"
#include "tests/files/record_builder.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  using namespace kd735;
  const FileRecord record = testing::RecordBuilder::Measurement().record;
  QTextStream out(stdout);
  out << UserLocale().toString(QDate(2026, 12, 11), QLocale::ShortFormat) << '\n';
  out << ThicknessLine(record) << '\n';
  ReportSettings settings;
  for (const QString& line : BuildMeasureBlock(record, settings).lines)
    if (line.startsWith(QStringLiteral("H = "))) out << line << '\n';
  return 0;
}
