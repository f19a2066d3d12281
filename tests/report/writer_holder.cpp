// writer_holder: a program that holds a private headless LibreOffice through the Writer engine,
// for the test that kills it.
//
//   writer_holder HELPER PROFILE PIPE   makes a document, prints LibreOffice's process id, then
//                                       waits until it is killed
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

#include "report/writer_engine.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: writer_holder HELPER PROFILE PIPE\n");
    return 2;
  }
  kd735::WriterEngineOptions options;
  options.helper = QString::fromLocal8Bit(argv[1]);
  options.profileDir = QString::fromLocal8Bit(argv[2]);
  options.pipeName = QString::fromLocal8Bit(argv[3]);
  options.headless = true;
  options.reportsFolder = QFileInfo(options.profileDir).dir().filePath(QStringLiteral("reports"));
  kd735::WriterEngine engine(options);
  kd735::PortStatus s = engine.Begin();
  QString name;
  if (s) s = engine.CreateDocument(QString::fromLocal8Bit(KD735_TEMPLATE_DOCX), &name);
  engine.End();
  if (!s) {
    std::fprintf(stderr, "%s\n", qUtf8Printable(s.text()));
    return 1;
  }
  std::printf("%lld\n", static_cast<long long>(engine.officeProcessId()));
  std::fflush(stdout);
  for (;;) pause();
}
