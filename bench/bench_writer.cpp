#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "bench/bench_records.h"
#include "report/docx_engine.h"
#include "report/word_report.h"
#include "report/writer_engine.h"

// N blocks sent into one report as one "send all" action, through the report's own code: into a
// live LibreOffice Writer (one private headless instance for the run) and, as the baseline of the
// same run, into the .docx engine. first100/last100 are the mean times of the first and the last
// hundred blocks: how a block's cost grows with the table. messages_per_block counts the Writer
// helper's messages of the action (its Begin and End included).
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
  std::unique_ptr<WriterEngine> engine;
  PortStatus started;
};

Office& TheOffice() {
  static Office office;
  if (!office.engine) {
    WriterEngineOptions options;
    options.headless = true;
    options.profileDir = office.dir.filePath(QStringLiteral("profile"));
    options.reportsFolder = office.dir.filePath(QStringLiteral("reports"));
    office.engine = std::make_unique<WriterEngine>(options);
    office.started = office.engine->Begin();
    office.engine->End();
  }
  return office;
}

// Sends `count` measurement files into a new document per iteration: of Writer's engine, or of
// a new .docx engine in a folder of its own.
void Run(benchmark::State& state, WriterEngine* writer) {
  const int count = static_cast<int>(state.range(0));
  std::vector<TKD735FileContent> files;
  for (int i = 0; i < count; ++i) files.push_back(bench::SampleMeasurement(i));
  std::vector<const TKD735FileContent*> entries;
  for (const auto& f : files) entries.push_back(&f);

  double first = 0, last = 0, messages = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QTemporaryDir dir;
    std::unique_ptr<DocxEngine> docx;
    if (!writer) {
      DocxEngineOptions options;
      options.reportsFolder = dir.path();
      docx = std::make_unique<DocxEngine>(options);
    }
    ReportPort& port = writer ? static_cast<ReportPort&>(*writer) : *docx;
    PictureClipboard clipboard;
    TimingFeedback feedback;
    WordReport report(port, clipboard, feedback);
    ReportSettings settings;
    report.CreateWordDocument(QStringLiteral(KD735_TEMPLATE_DOCX), settings,
                              QStringLiteral("КД735 0123"));
    feedback.done.clear();
    const std::uint64_t before = writer ? writer->helperMessages() : 0;
    const auto start = Clock::now();
    state.ResumeTiming();

    if (!report.SendAllFiles(BlockKind::Measure, entries, settings)) {
      state.SkipWithError("sending failed");
      break;
    }

    state.PauseTiming();
    if (writer) messages += static_cast<double>(writer->helperMessages() - before) / count;
    const std::size_t n = feedback.done.size();
    const std::size_t window = std::min<std::size_t>(100, n);
    auto ms = [](Clock::duration d) {
      return std::chrono::duration<double, std::milli>(d).count();
    };
    first += ms(feedback.done[window - 1] - start) / double(window);
    last += ms(feedback.done[n - 1] - feedback.done[n - window]) /
            double(std::max<std::size_t>(1, window - 1));
    if (writer && port.Begin()) {
      CloseOutcome closed;
      port.CloseDocuments(&closed);
      port.End();
    }
    state.ResumeTiming();
  }
  const auto iterations = static_cast<double>(state.iterations());
  state.counters["per_block"] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["first100_ms"] = first / iterations;
  state.counters["last100_ms"] = last / iterations;
  if (writer) state.counters["messages_per_block"] = messages / iterations;
}

void DocxBaselineBlocks(benchmark::State& state) { Run(state, nullptr); }

void WriterBlocks(benchmark::State& state) {
  Office& office = TheOffice();
  if (!office.started) {
    state.SkipWithError(office.started.text().toStdString().c_str());
    return;
  }
  Run(state, office.engine.get());
}

BENCHMARK(DocxBaselineBlocks)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriterBlocks)->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriterBlocks)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kd735
