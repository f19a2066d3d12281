#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_records.h"
#include "report/docx_engine.h"
#include "report/word_report.h"

// Sending N blocks into one report document: one "send all" action, the save at its end
// included. Time per block should stay flat from 1,000 to 4,000 blocks.
namespace kd735 {
namespace {

class SilentFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage&) override {}
  void SetStatusText(const QString&) override {}
};

void Blocks(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<TKD735FileContent> files;
  for (int i = 0; i < count; ++i) files.push_back(bench::SampleMeasurement(i));
  std::vector<const TKD735FileContent*> entries;
  for (const auto& f : files) entries.push_back(&f);
  const QString templatePath = QStringLiteral(KD735_TEMPLATE_DOCX);

  for (auto _ : state) {
    state.PauseTiming();
    QTemporaryDir dir;
    PictureClipboard clipboard;
    DocxEngineOptions options;
    options.reportsFolder = dir.path();
    DocxEngine engine(options);
    SilentFeedback feedback;
    WordReport report(engine, clipboard, feedback);
    ReportSettings settings;
    report.CreateWordDocument(templatePath, settings, QStringLiteral("КД735 0123"));
    state.ResumeTiming();

    if (!report.SendAllFiles(BlockKind::Measure, entries, settings)) {
      state.SkipWithError("sending failed");
      break;
    }
  }
  state.counters["per_block"] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(Blocks)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peak resident memory of a process that makes a report of N blocks, less that of one that holds
// the same N records and creates the document but sends nothing: what the blocks cost, per block.
// Each figure comes from a process of its own (kd735_report_memory).
long PeakKiB(int blocks, bool send, benchmark::State& state) {
  QTemporaryDir dir;
  QProcess probe;
  QStringList args{QString::number(blocks), dir.path()};
  if (!send) args << QStringLiteral("--no-send");
  probe.start(QStringLiteral(KD735_REPORT_MEMORY), args);
  if (!probe.waitForFinished(600000) || probe.exitCode() != 0) {
    state.SkipWithError("kd735_report_memory failed");
    return 0;
  }
  return probe.readAllStandardOutput().trimmed().toLong();
}

void DocxMemory(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  long base = 0, full = 0;
  for (auto _ : state) {
    base = PeakKiB(count, false, state);
    full = PeakKiB(count, true, state);
  }
  state.counters["baseline_MiB"] = static_cast<double>(base) / 1024.0;
  state.counters["peak_MiB"] = static_cast<double>(full) / 1024.0;
  state.counters["KiB_per_block"] = static_cast<double>(full - base) / count;
}
BENCHMARK(DocxMemory)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace kd735
