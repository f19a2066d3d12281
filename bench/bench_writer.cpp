#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

#include "bench/bench_records.h"
#include "files/picture.h"
#include "report/data_block.h"
#include "report/docx_word.h"
#include "report/word_report.h"
#include "report/writer_engine.h"

// N blocks sent into one report as one "send all" action: into a live LibreOffice Writer (one
// private headless instance for the run, driven through the report's port) and, as the baseline
// of the same run, into the .docx engine. first100/last100 are the mean times of the first and
// the last hundred blocks: how a block's cost grows with the table. messages_per_block counts the
// Writer helper's messages of the action (its Begin and End included).
namespace kd735 {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The mean times of the first and the last hundred blocks, from the moment each was done.
void AddWindows(Clock::time_point start, const std::vector<Clock::time_point>& done, double* first,
                double* last) {
  const int n = static_cast<int>(done.size());
  const int window = std::min(100, n);
  if (window == 0) return;
  *first += Ms(done[static_cast<std::size_t>(window - 1)] - start) / window;
  *last += Ms(done[static_cast<std::size_t>(n - 1)] - done[static_cast<std::size_t>(n - window)]) /
           std::max(1, window - 1);
}

void Report(benchmark::State& state, int count, double first, double last) {
  state.counters["per_block"] = benchmark::Counter(
      count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["first100_ms"] = first / static_cast<double>(state.iterations());
  state.counters["last100_ms"] = last / static_cast<double>(state.iterations());
}

// Notes when each block is in the document.
class TimingFeedback : public ReportFeedback {
 public:
  void ShowMessage(const ReportMessage&) override {}
  void SetStatusText(const QString&) override { done.push_back(Clock::now()); }
  std::vector<Clock::time_point> done;
};

void DocxBaselineBlocks(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<TKD735FileContent> files;
  for (int i = 0; i < count; ++i) files.push_back(bench::SampleMeasurement(i));
  std::vector<const TKD735FileContent*> entries;
  for (const auto& f : files) entries.push_back(&f);
  double first = 0, last = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QTemporaryDir dir;
    DocxWordOptions options;
    options.reportsFolder = dir.path();
    PictureClipboard clipboard;
    DocxWord word(clipboard, options);
    TimingFeedback feedback;
    WordReport report(word, clipboard, feedback);
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
    AddWindows(start, feedback.done, &first, &last);
    state.ResumeTiming();
  }
  Report(state, count, first, last);
}

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

void WriterBlocks(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<TKD735FileContent> files;
  for (int i = 0; i < count; ++i) files.push_back(bench::SampleMeasurement(i));
  Office& office = TheOffice();
  if (!office.started) {
    state.SkipWithError(office.started.text().toStdString().c_str());
    return;
  }
  WriterEngine& engine = *office.engine;
  const ReportSettings settings;
  double first = 0, last = 0, messages = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QString name;
    PortStatus s = engine.Begin();
    if (s) s = engine.CreateDocument(QStringLiteral(KD735_TEMPLATE_DOCX), &name);
    engine.End();
    if (!s) {
      state.SkipWithError(s.text().toStdString().c_str());
      break;
    }
    std::vector<Clock::time_point> done;
    done.reserve(static_cast<std::size_t>(count));
    const std::uint64_t before = engine.helperMessages();
    const auto start = Clock::now();
    state.ResumeTiming();

    // As the report sends all files: each block built and appended, the whole run one action.
    s = engine.Begin();
    int number = 0;
    for (const TKD735FileContent& f : files) {
      if (!s) break;
      const RecordView record(f.record);
      const BlockText text = BuildMeasureBlock(record, settings);
      DataBlock block;
      block.tablePosition = settings.measure.tablePosition;
      block.number = ++number;
      block.picture = RenderPicture(record, settings.measure.invertPicture);
      block.lines = text.lines;
      block.font = text.font;
      BlockOutcome outcome;
      s = engine.AppendBlock(block, &outcome);
      done.push_back(Clock::now());
    }
    if (s) s = engine.End();

    state.PauseTiming();
    if (!s) {
      state.SkipWithError(s.text().toStdString().c_str());
      break;
    }
    messages += static_cast<double>(engine.helperMessages() - before) / count;
    AddWindows(start, done, &first, &last);
    CloseOutcome closed;
    engine.Begin();
    engine.CloseDocuments(&closed);
    engine.End();
    state.ResumeTiming();
  }
  Report(state, count, first, last);
  state.counters["messages_per_block"] = messages / static_cast<double>(state.iterations());
}

BENCHMARK(DocxBaselineBlocks)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriterBlocks)->Arg(100)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriterBlocks)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kd735
