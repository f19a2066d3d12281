// kd735_report_memory N FOLDER [--no-send]: makes one report of N measurement blocks with the
// .docx engine (one "send all" action, the document written at its end) in FOLDER and prints the
// process's peak resident memory in KiB. With --no-send the N records are made and the document
// created, but no block is sent: the baseline the benchmark DocxMemory subtracts.
#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <vector>

#include "bench/bench_records.h"
#include "report/docx_engine.h"
#include "report/word_report.h"

namespace {

class Silent : public kd735::ReportFeedback {
 public:
  void ShowMessage(const kd735::ReportMessage& m) override {
    std::fprintf(stderr, "%s\n", m.text.toLocal8Bit().constData());
  }
  void SetStatusText(const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool send = argc == 3;
  if (argc != 3 && !(argc == 4 && QByteArray(argv[3]) == "--no-send")) {
    std::fprintf(stderr, "usage: kd735_report_memory N FOLDER [--no-send]\n");
    return 2;
  }
  const int count = QString::fromLocal8Bit(argv[1]).toInt();
  std::vector<kd735::TKD735FileContent> files;
  files.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) files.push_back(kd735::bench::SampleMeasurement(i));
  std::vector<const kd735::TKD735FileContent*> entries;
  for (const auto& f : files) entries.push_back(&f);

  kd735::DocxEngineOptions options;
  options.reportsFolder = QString::fromLocal8Bit(argv[2]);
  kd735::DocxEngine engine(options);
  kd735::PictureClipboard clipboard;
  Silent feedback;
  kd735::WordReport report(engine, clipboard, feedback);
  kd735::ReportSettings settings;
  if (!report.CreateWordDocument(QStringLiteral(KD735_TEMPLATE_DOCX), settings,
                                 QStringLiteral("КД735 0123")))
    return 1;
  if (send && !report.SendAllFiles(kd735::BlockKind::Measure, entries, settings)) return 1;
  // The high-water mark of this program's own memory: getrusage's would also count the memory of
  // the process it was started from (its mark survives exec).
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 1;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:"))
      std::printf("%s\n", line.mid(6).trimmed().split(' ').value(0).constData());
  return 0;
}
