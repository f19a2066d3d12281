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

}  // namespace
}  // namespace kd735
