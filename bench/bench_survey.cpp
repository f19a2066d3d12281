#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_records.h"
#include "files/atomic_file.h"
#include "files/local_file.h"
#include "files/survey.h"
#include "files/survey_export.h"

// A survey of 10,000 measurement files: the table with its statistics and the CSV, against the
// baseline of reading the same records from their local files. Target: well under 100 ms.
namespace kd735 {
namespace {

constexpr int kRecords = 10000;

// The local files, written once for the run.
struct SurveyFiles {
  QTemporaryDir dir;
  QStringList paths;

  SurveyFiles() {
    for (int i = 0; i < kRecords; ++i) {
      TKD735FileContent c = bench::SampleMeasurement(i);
      // Thicknesses from -0.50 to 49.49 mm, every 17th without a valid reading.
      const std::int32_t thickness = (i * 7919) % 5000 - 50;
      for (int b = 0; b < 4; ++b)
        c.record[std::size_t(field::kThickness + b)] =
            std::uint8_t(std::uint32_t(thickness) >> (24 - 8 * b));
      if (i % 17 == 0) c.record[field::kMeasureState + 3] = 0;
      const QString path = dir.filePath(QStringLiteral("P%1; \"probe\".KDMesuare").arg(i));
      if (!SaveLocalFile(c.record, path).isEmpty()) return;
      paths << path;
    }
  }
};

const SurveyFiles& Files() {
  static const SurveyFiles files;
  return files;
}

std::vector<LoadedFile> LoadAll() {
  std::vector<LoadedFile> loaded;
  loaded.reserve(kRecords);
  for (const QString& path : Files().paths) loaded.push_back(LoadLocalFile(path));
  return loaded;
}

// The baseline: the records read from their files, as `kd735 table` reads them.
void SurveyReadRecords(benchmark::State& state) {
  if (Files().paths.size() != kRecords) state.SkipWithError("the files could not be written");
  for (auto _ : state) {
    const std::vector<LoadedFile> loaded = LoadAll();
    benchmark::DoNotOptimize(loaded.data());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(SurveyReadRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<SurveyEntry> Entries(const std::vector<LoadedFile>& loaded) {
  std::vector<SurveyEntry> entries;
  for (std::size_t i = 0; i < loaded.size(); ++i)
    entries.push_back({loaded[i].entryText, loaded[i].content.get(), Files().paths[qsizetype(i)]});
  return entries;
}

// The table with its statistics and the CSV of it.
void SurveyTableAndCsv(benchmark::State& state) {
  if (Files().paths.size() != kRecords) state.SkipWithError("the files could not be written");
  const std::vector<LoadedFile> loaded = LoadAll();
  const std::vector<SurveyEntry> entries = Entries(loaded);
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  for (auto _ : state) {
    const SurveyTable table = MakeSurveyTable(SurveyKind::Measure, entries, 250, russian);
    const QByteArray csv = SurveyCsv(table, u';');
    benchmark::DoNotOptimize(csv.constData());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(SurveyTableAndCsv)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same table as JSON, for comparison.
void SurveyTableAndJson(benchmark::State& state) {
  if (Files().paths.size() != kRecords) state.SkipWithError("the files could not be written");
  const std::vector<LoadedFile> loaded = LoadAll();
  const std::vector<SurveyEntry> entries = Entries(loaded);
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  const SurveyTable none = MakeSurveyTable(SurveyKind::Bscan, {}, std::nullopt, russian);
  for (auto _ : state) {
    const SurveyTable table = MakeSurveyTable(SurveyKind::Measure, entries, 250, russian);
    const QByteArray json = SurveyJson(table, none);
    benchmark::DoNotOptimize(json.constData());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(SurveyTableAndJson)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kd735
