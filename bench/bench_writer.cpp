#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "bench/bench_records.h"
#include "report/word_backend.h"
#include "report/word_report.h"
#include "report/writer_word.h"

// N blocks sent into one report as one "send all" action: into a live LibreOffice Writer (one
// private headless instance for the run) and, as the baseline of the same run, into the .docx
// engine. first100/last100 are the mean times of the first and the last hundred blocks: how a
// block's cost grows with the table.
namespace kd735 {
namespace {

using Clock = std::chrono::steady_clock;

// Notes when each block is in the document.
class TimingFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage&) override {}
  void SetStatusText(const QString&) override { done.push_back(Clock::now()); }
  std::vector<Clock::time_point> done;
};

// The LibreOffice of the run, started by the first Writer benchmark and ended at exit.
struct Office {
  QTemporaryDir dir;
  PictureClipboard clipboard;
  WriterWordOptions options;
  std::unique_ptr<WriterWord> owner;
  WordStatus started;
};

Office& TheOffice() {
  static Office office;
  if (!office.owner) {
    office.options.headless = true;
    office.options.profileDir = office.dir.filePath(QStringLiteral("profile"));
    office.owner = std::make_unique<WriterWord>(office.clipboard, office.options);
    office.started = office.owner->Connect();
  }
  return office;
}

void Run(benchmark::State& state, WordBackend backend) {
  const int count = static_cast<int>(state.range(0));
  std::vector<TKD735FileContent> files;
  for (int i = 0; i < count; ++i) files.push_back(bench::SampleMeasurement(i));
  std::vector<const TKD735FileContent*> entries;
  for (const auto& f : files) entries.push_back(&f);

  WordBackendOptions options;
  if (backend == WordBackend::kWriter) {
    if (const auto a = CheckWordBackend(WordBackend::kWriter); !a.available) {
      state.SkipWithError(a.reason.toStdString().c_str());
      return;
    }
    Office& office = TheOffice();
    if (!office.started) {
      state.SkipWithError(office.started.text().toStdString().c_str());
      return;
    }
    options.writer = office.options;
  }
  double first = 0, last = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QTemporaryDir dir;
    options.docx.reportsFolder = dir.path();
    PictureClipboard clipboard;
    std::unique_ptr<ReportPort> port = CreateReportPort(backend, options);
    TimingFeedback feedback;
    WordReport report(*port, clipboard, feedback);
    ReportSettings settings;
    report.CreateWordDocument(QStringLiteral(KD735_TEMPLATE_DOCX), settings,
                              QStringLiteral("КД735 0123"));
    feedback.done.clear();
    const auto start = Clock::now();
    state.ResumeTiming();

    if (!report.SendAllFiles(BlockKind::Measure, entries, settings)) {
      state.SkipWithError("sending failed");
      break;
    }

    state.PauseTiming();
    const int n = static_cast<int>(feedback.done.size());
    const int window = std::min(100, n);
    auto ms = [](Clock::duration d) {
      return std::chrono::duration<double, std::milli>(d).count();
    };
    first += ms(feedback.done[window - 1] - start) / window;
    last += ms(feedback.done[n - 1] - feedback.done[n - window]) / std::max(1, window - 1);
    if (backend == WordBackend::kWriter && port->Begin()) {
      CloseOutcome closed;
      port->CloseDocuments(&closed);
      port->End();
    }
    state.ResumeTiming();
  }
  state.counters["per_block"] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["first100_ms"] = first / static_cast<double>(state.iterations());
  state.counters["last100_ms"] = last / static_cast<double>(state.iterations());
}

void DocxBaselineBlocks(benchmark::State& state) { Run(state, WordBackend::kDocx); }
void WriterBlocks(benchmark::State& state) { Run(state, WordBackend::kWriter); }

BENCHMARK(DocxBaselineBlocks)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriterBlocks)->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriterBlocks)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kd735
