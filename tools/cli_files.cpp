#include <QImage>

#include "files/atomic_file.h"
#include "files/local_file.h"
#include "files/picture.h"
#include "files/viewer.h"
#include "report/data_block.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

const QString kFileHelp = QStringLiteral("A local instrument file (.KDMesuare, .KDBscan).");

// The one positional argument FILE, or the usage error.
bool OneFile(const QCommandLineParser& parser, QString* file) {
  const QStringList positional = parser.positionalArguments();
  if (positional.size() != 1) {
    UsageError(positional.isEmpty()
                   ? QStringLiteral("no FILE given")
                   : QStringLiteral("one FILE only (got %1 arguments)").arg(positional.size()));
    return false;
  }
  *file = positional[0];
  return true;
}

}  // namespace

void DefineDescribe(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("styles"),
                    QStringLiteral("Put each line's format (bold-black, bold-blue, regular-black, "
                                   "regular-blue) and a tab before it.")});
  parser.addPositionalArgument(QStringLiteral("FILE"), kFileHelp);
}

int Describe(const QCommandLineParser& parser, const GlobalOptions&) {
  QString file;
  if (!OneFile(parser, &file)) return kExitUsage;
  const auto content = LoadFileOrFail(file);
  if (!content) return kExitFailure;
  const bool styles = parser.isSet(QStringLiteral("styles"));
  for (const DescriptionLine& line : DescribeRecord(content->record).lines) {
    PrintLine(styles ? StyleName(line) + QLatin1Char('\t') + line.text : line.text);
  }
  return 0;
}

void DefinePicture(QCommandLineParser& parser) {
  parser.addOption(
      {QStringLiteral("invert"), QStringLiteral("Draw in the inverted colours (blue on white).")});
  parser.addPositionalArgument(QStringLiteral("FILE"), kFileHelp);
  parser.addPositionalArgument(
      QStringLiteral("OUT"),
      QStringLiteral("The picture file to write: .png or .bmp by its ending. It is replaced "
                     "whole or not at all."));
}

int Picture(const QCommandLineParser& parser, const GlobalOptions&) {
  const QStringList positional = parser.positionalArguments();
  if (positional.size() != 2) return UsageError(QStringLiteral("give FILE and OUT"));
  const QString in = positional[0], out = positional[1];
  QString error;
  if (!PictureFormat(out, &error)) return UsageError(error);
  // Refused before any work: the input itself, a device, a pipe or a folder is never written.
  if (const FileWriteResult target = CheckWriteTarget(out, {in}); !target)
    return Fail(target.message());
  const auto content = LoadFileOrFail(in);
  if (!content) return kExitFailure;
  if (!SaveImageFile(RenderPicture(content->record, parser.isSet(QStringLiteral("invert"))), out,
                     {in}, &error))
    return Fail(error);
  return 0;
}

void DefineBlock(QCommandLineParser& parser) {
  parser.addOption({QStringLiteral("kind"),
                    QStringLiteral("The list the file is sent from: measure or bscan."),
                    QStringLiteral("measure|bscan")});
  parser.addOption(
      {QStringLiteral("all-lines"), QStringLiteral("Take every optional line of the block.")});
  parser.addOption({QStringLiteral("no-optional-lines"),
                    QStringLiteral("Leave out every optional line of the block.")});
  parser.addPositionalArgument(QStringLiteral("FILE"), kFileHelp);
}

int Block(const QCommandLineParser& parser, const GlobalOptions&) {
  const QString kind = parser.value(QStringLiteral("kind"));
  const bool allOn = parser.isSet(QStringLiteral("all-lines"));
  const bool allOff = parser.isSet(QStringLiteral("no-optional-lines"));
  if (kind != QLatin1String("measure") && kind != QLatin1String("bscan"))
    return UsageError(kind.isEmpty()
                          ? QStringLiteral("--kind measure|bscan is needed")
                          : QStringLiteral("--kind is measure or bscan (got '%1')").arg(kind));
  if (allOn && allOff)
    return UsageError(QStringLiteral("--all-lines and --no-optional-lines exclude each other"));
  QString file;
  if (!OneFile(parser, &file)) return kExitUsage;
  const auto content = LoadFileOrFail(file);
  if (!content) return kExitFailure;
  ReportSettings settings;
  if (allOn) settings = WithAllOptionalLines(settings, true);
  if (allOff) settings = WithAllOptionalLines(settings, false);
  const BlockText block = kind == QLatin1String("measure")
                              ? BuildMeasureBlock(content->record, settings)
                              : BuildBscanBlock(content->record, settings);
  for (const QString& line : block.lines) PrintLine(line);
  return 0;
}

void DefineListName(QCommandLineParser& parser) {
  parser.addPositionalArgument(QStringLiteral("FILE"), kFileHelp);
}

int ListName(const QCommandLineParser& parser, const GlobalOptions&) {
  QString file;
  if (!OneFile(parser, &file)) return kExitUsage;
  const auto content = LoadFileOrFail(file);
  if (!content) return kExitFailure;
  PrintLine(FileListName(content->record));
  return 0;
}

}  // namespace kd735::cli
