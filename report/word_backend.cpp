#include "report/word_backend.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace kd735 {

namespace {

constexpr int kCheckTimeoutMs = 10000;

}  // namespace

QString WordBackendName(WordBackend backend) {
  return backend == WordBackend::kWriter ? QStringLiteral("LibreOffice Writer")
                                         : QStringLiteral("Файлы .docx");
}

WordBackendAvailability CheckWordBackend(WordBackend backend, const WordBackendOptions& options) {
  if (backend == WordBackend::kDocx) return {true, {}};
  const QString helper = WriterEngine::FindHelper(options.writer.helper);
  if (helper.isEmpty())
    return {false, QStringLiteral("Не найден модуль связи с LibreOffice Writer (kd735_writer).")};
  const QString soffice = WriterEngine::FindSoffice(options.writer.soffice);
  if (soffice.isEmpty())
    return {false,
            QStringLiteral("LibreOffice Writer не установлен: не найдена программа soffice.")};
  // In LibreOffice's own layout (program/soffice) Writer brings its configuration part; without
  // it LibreOffice opens no text document.
  const QFileInfo real(QFileInfo(soffice).canonicalFilePath());
  if (real.dir().dirName() == QLatin1String("program")) {
    const QString writerPart = real.dir().filePath(QStringLiteral("../share/registry/writer.xcd"));
    if (!QFileInfo::exists(writerPart))
      return {false, QStringLiteral("В установленном LibreOffice нет Writer (%1 не найден).")
                         .arg(QDir::toNativeSeparators(QDir::cleanPath(writerPart)))};
  }

  QProcess check;
  check.setEnvironment(WriterEngine::HelperEnvironment());
  check.start(helper, {QStringLiteral("--check")});
  if (!check.waitForStarted(kCheckTimeoutMs))
    return {false, QStringLiteral("Модуль связи с LibreOffice Writer не запускается: %1")
                       .arg(check.errorString())};
  if (!check.waitForFinished(kCheckTimeoutMs)) {
    check.kill();
    check.waitForFinished();
    return {false, QStringLiteral("Модуль связи с LibreOffice Writer не ответил.")};
  }
  if (check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) {
    QString why = QString::fromLocal8Bit(check.readAllStandardOutput()).trimmed();
    const QString err = QString::fromLocal8Bit(check.readAllStandardError()).trimmed();
    if (why.isEmpty()) why = err;
    return {false, QStringLiteral("Модуль связи с LibreOffice Writer не загружается: %1").arg(why)};
  }
  return {true, {}};
}

std::unique_ptr<ReportPort> CreateReportPort(WordBackend backend,
                                             const WordBackendOptions& options) {
  if (backend == WordBackend::kWriter) return std::make_unique<WriterEngine>(options.writer);
  return std::make_unique<DocxEngine>(options.docx);
}

}  // namespace kd735
