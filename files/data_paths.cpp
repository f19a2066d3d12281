#include "files/data_paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kd735 {

namespace {

// True when `folder` is `root` or lies below it; both are resolved first, so that symbolic links
// and "..", and a sibling whose name merely starts with the root's, decide nothing.
bool LiesInside(const QString& folder, const QString& root) {
  const QString f = QFileInfo(folder).canonicalFilePath();
  const QString r = QFileInfo(root).canonicalFilePath();
  if (f.isEmpty() || r.isEmpty()) return false;
  return f == r || f.startsWith(r + QLatin1Char('/'));
}

}  // namespace

QString FindDataFile(const QString& name, const QString& executableFolder) {
  const QString exe = QDir(executableFolder).absolutePath();
  const QString installed = QDir::cleanPath(exe + QStringLiteral("/../share/kd735/") + name);
  QStringList candidates{QDir::cleanPath(exe + QLatin1Char('/') + name), installed};
#ifdef KD735_BUILD_DATA_DIR
  if (LiesInside(exe, QStringLiteral(KD735_BUILD_DATA_DIR)))
    candidates << QDir::cleanPath(QStringLiteral(KD735_BUILD_DATA_DIR "/") + name);
#endif
  for (const QString& c : candidates) {
    if (QFileInfo(c).isFile()) return c;
  }
  return installed;
}

QString DefaultTemplatePath() {
  return FindDataFile(QString::fromLatin1(kTemplateFileName),
                      QCoreApplication::applicationDirPath());
}

}  // namespace kd735
