// The link's two hot paths against the simulated instrument at full speed: the screen stream
// (reader thread -> hand-off to this thread -> tile drawing) and reading files.

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include "bench/bench_app.h"
#include "link/file_reading.h"
#include "link/link_controller.h"
#include "panel/screen_surface.h"
#include "sim/simulated_bus.h"

namespace kd735 {
namespace {

using bench::App;

sim::SimulatedBus::Options FullSpeed() {
  sim::SimulatedBus::Options o;
  o.timeoutCapMs = 0;
  return o;
}

// Baseline: the same packets drawn straight into the surface, no thread and no hand-off.
void StreamPipelineBaseline(benchmark::State& state) {
  sim::Instrument instrument;
  std::vector<Packet> packets(4096);
  for (Packet& p : packets) p = instrument.NextStreamPacket();
  ScreenSurface surface(1);
  surface.Initialize();
  std::size_t i = 0;
  for (auto _ : state) {
    surface.DrawScreenPacket(packets[i++ % packets.size()]);
    benchmark::DoNotOptimize(surface.BackBuffer().constBits());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(StreamPipelineBaseline);

// Packets per second from the simulated instrument through the reader and the hand-off into the
// drawing surface; the event loop runs the hand-offs.
void StreamPipeline(benchmark::State& state) {
  App();
  sim::SimulatedBus bus(FullSpeed());
  bus.AttachInstrument();
  ScreenSurface surface(1);
  surface.Initialize();
  std::int64_t drawn = 0;
  LinkController link(bus, [&](const Packet& p) {
    surface.DrawScreenPacket(p);
    ++drawn;
  });
  link.Start();
  constexpr int kBatch = 1000;
  for (auto _ : state) {
    const std::int64_t until = drawn + kBatch;
    while (drawn < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  link.Shutdown();
}
BENCHMARK(StreamPipeline)->Unit(benchmark::kMillisecond)->UseRealTime();

// Files per second: 100 files read from the simulated instrument with no delay while the screen
// stream runs beside the reading, as it does in the program.
void ReadFiles(benchmark::State& state) {
  App();
  sim::SimulatedBus bus(FullSpeed());
  const QString path = bus.AttachInstrument();
  bus.WithInstrument(path, [](sim::Instrument& i) {
    auto& files = i.Files(sim::kMeasureKind);
    const auto first = files.front();
    files.assign(100, first);
  });
  LinkController link(bus, nullptr);
  link.Start();
  int read = 0;
  bool failed = false;
  InstrumentFileReader::Hooks hooks;
  hooks.appendFile = [&](const InstrumentFile& f) { read += f.Complete() ? 1 : 0; };
  hooks.showMessage = [&](MessageKind, const QString&) { failed = true; };
  InstrumentFileReader reader(link, hooks);
  for (auto _ : state) reader.Read(FileSide::kMeasure);
  if (failed || read != 100 * int(state.iterations())) state.SkipWithError("a file went wrong");
  state.SetItemsProcessed(read);
  link.Shutdown();
}
BENCHMARK(ReadFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kd735
