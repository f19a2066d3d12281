#include <QImage>
#include <QMap>

#include "files/atomic_file.h"
#include "files/local_file.h"
#include "files/picture.h"
#include "files/viewer.h"
#include "report/data_block.h"
#include "tools/verbs.h"

namespace kd735::cli {

namespace {

// Splits a verb's arguments into positional ones and the flags it knows; anything else that
// looks like an option is refused. Returns an empty string or the error text.
QString SplitArgs(const QStringList& args, const QStringList& knownFlags,
                  const QStringList& valueOptions, QStringList& positional, QStringList& flags,
                  QMap<QString, QString>& values) {
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (knownFlags.contains(a)) {
      flags << a;
    } else if (valueOptions.contains(a)) {
      if (i + 1 >= args.size()) return QStringLiteral("option %1 needs a value").arg(a);
      values[a] = args[++i];
    } else if (a.startsWith(QLatin1String("--"))) {
      return QStringLiteral("unknown option '%1'").arg(a);
    } else {
      positional << a;
    }
  }
  return {};
}

}  // namespace

std::unique_ptr<TKD735FileContent> LoadFileOrFail(const QString& path) {
  LoadedFile loaded = LoadLocalFile(path);
  if (!loaded.ok()) {
    Fail(loaded.reason.isEmpty() ? loaded.error : loaded.reason);
    return nullptr;
  }
  return std::move(loaded.content);
}

int Describe(const QStringList& args, const GlobalOptions&) {
  QStringList positional, flags;
  QMap<QString, QString> values;
  const QString error =
      SplitArgs(args, {QStringLiteral("--styles")}, {}, positional, flags, values);
  if (!error.isEmpty()) return Fail(QStringLiteral("describe: ") + error);
  if (positional.size() != 1) return Fail(QStringLiteral("usage: kd735 describe FILE [--styles]"));
  const auto content = LoadFileOrFail(positional[0]);
  if (!content) return 1;
  const bool styles = !flags.isEmpty();
  for (const DescriptionLine& line : DescribeRecord(content->record).lines) {
    PrintLine(styles ? StyleName(line) + QLatin1Char('\t') + line.text : line.text);
  }
  return 0;
}

int Picture(const QStringList& args, const GlobalOptions&) {
  QStringList positional, flags;
  QMap<QString, QString> values;
  const QString error =
      SplitArgs(args, {QStringLiteral("--invert")}, {}, positional, flags, values);
  if (!error.isEmpty()) return Fail(QStringLiteral("picture: ") + error);
  if (positional.size() != 2) {
    return Fail(QStringLiteral("usage: kd735 picture FILE OUT [--invert]"));
  }
  const QString in = positional[0], out = positional[1];
  // Refused before any work: the input itself, a device, a pipe or a folder is never written.
  if (const FileWriteResult target = CheckWriteTarget(out, {in}); !target)
    return Fail(QStringLiteral("picture: ") + target.message());
  const auto content = LoadFileOrFail(in);
  if (!content) return 1;
  const char* format = out.endsWith(QLatin1String(".png"), Qt::CaseInsensitive) ? "png" : "bmp";
  QString writeError;
  if (!SaveImageFile(RenderPicture(content->record, !flags.isEmpty()), out, format, {in},
                     &writeError))
    return Fail(QStringLiteral("picture: ") + writeError);
  return 0;
}

int Block(const QStringList& args, const GlobalOptions&) {
  QStringList positional, flags;
  QMap<QString, QString> values;
  const QString allOn = QStringLiteral("--all-lines"),
                allOff = QStringLiteral("--no-optional-lines");
  const QString kindOption = QStringLiteral("--kind");
  const QString error = SplitArgs(args, {allOn, allOff}, {kindOption}, positional, flags, values);
  if (!error.isEmpty()) return Fail(QStringLiteral("block: ") + error);
  const QString kind = values.value(kindOption);
  if (positional.size() != 1 || flags.size() > 1 ||
      (kind != QLatin1String("measure") && kind != QLatin1String("bscan"))) {
    return Fail(QStringLiteral(
        "usage: kd735 block FILE --kind measure|bscan [--all-lines|--no-optional-lines]"));
  }
  const auto content = LoadFileOrFail(positional[0]);
  if (!content) return 1;
  ReportSettings settings;
  if (flags.contains(allOn)) settings = WithAllOptionalLines(settings, true);
  if (flags.contains(allOff)) settings = WithAllOptionalLines(settings, false);
  const BlockText block = kind == QLatin1String("measure")
                              ? BuildMeasureBlock(content->record, settings)
                              : BuildBscanBlock(content->record, settings);
  for (const QString& line : block.lines) PrintLine(line);
  return 0;
}

int ListName(const QStringList& args, const GlobalOptions&) {
  QStringList positional, flags;
  QMap<QString, QString> values;
  const QString error = SplitArgs(args, {}, {}, positional, flags, values);
  if (!error.isEmpty()) return Fail(QStringLiteral("listname: ") + error);
  if (positional.size() != 1) return Fail(QStringLiteral("usage: kd735 listname FILE"));
  const auto content = LoadFileOrFail(positional[0]);
  if (!content) return 1;
  PrintLine(FileListName(content->record));
  return 0;
}

}  // namespace kd735::cli
