// The real main window of the virtual program with the instrument streaming: how long a posted
// click on a key waits for its handler, and how much of one core the UI thread spends.

#include <benchmark/benchmark.h>
#include <time.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

#include "apps/virtual/virtual_program.h"
#include "bench/bench_app.h"
#include "sim/simulated_bus.h"

namespace kd735 {
namespace {

using Clock = std::chrono::steady_clock;

// Stamps the moment a key command reaches the bus, which is inside the key's handler.
class StampingBus final : public UsbBus {
 public:
  explicit StampingBus(UsbBus& inner) : inner_(inner) {}
  std::atomic<std::int64_t> lastCommandNs{0};

  std::vector<TUSBPnPInfo> ListDevices() override { return inner_.ListDevices(); }
  std::unique_ptr<CommandChannel> OpenCommandChannel(const QString& devPath) override {
    auto channel = inner_.OpenCommandChannel(devPath);
    return channel ? std::make_unique<Channel>(*this, std::move(channel)) : nullptr;
  }
  std::unique_ptr<StreamChannel> OpenStreamChannel(const QString& devPath) override {
    return inner_.OpenStreamChannel(devPath);
  }
  void SetDeviceChangeCallback(std::function<void()> callback) override {
    inner_.SetDeviceChangeCallback(std::move(callback));
  }

 private:
  class Channel final : public CommandChannel {
   public:
    Channel(StampingBus& bus, std::unique_ptr<CommandChannel> inner)
        : bus_(bus), inner_(std::move(inner)) {}
    bool Transfer(TransferRecord& record, int timeoutMs, std::uint32_t& bytes) override {
      if (record.Endpoint() == kCommandEndpoint)
        bus_.lastCommandNs.store(Clock::now().time_since_epoch().count());
      return inner_->Transfer(record, timeoutMs, bytes);
    }

   private:
    StampingBus& bus_;
    std::unique_ptr<CommandChannel> inner_;
  };
  UsbBus& inner_;
};

std::int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Runs the event loop as the program does: sleeping when there is nothing to do.
void Pump(std::chrono::milliseconds time) {
  QEventLoop loop;
  QTimer::singleShot(time, &loop, &QEventLoop::quit);
  loop.exec();
}

sim::SimulatedBus::Options Rate(bool realistic) {
  sim::SimulatedBus::Options o;
  o.latencyMs = realistic ? 1 : 0;  // 1 ms: the instrument's own pace, ~1000 packets a second
  o.realClock = true;
  return o;
}

// A click posted as the window system would deliver it (press and release events in the
// queue), then the time until its handler sends the key command, with the stream at full speed.
void KeyClickDelay(benchmark::State& state) {
  bench::App();
  sim::SimulatedBus sim(Rate(false));
  sim.AttachInstrument();
  StampingBus bus(sim);
  virtual_app::VirtualProgram program(bus, &sim);
  auto* key = program.MainForm().findChild<QAbstractButton*>("EnterSpeedButton");
  Pump(std::chrono::milliseconds(200));
  std::vector<double> delaysMs;
  for (auto _ : state) {
    const QPointF at(key->width() / 2.0, key->height() / 2.0);
    const std::int64_t before = bus.lastCommandNs.load();
    const auto posted = Clock::now();
    QCoreApplication::postEvent(
        key, new QMouseEvent(QEvent::MouseButtonPress, at, key->mapToGlobal(at), Qt::LeftButton,
                             Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(
        key, new QMouseEvent(QEvent::MouseButtonRelease, at, key->mapToGlobal(at), Qt::LeftButton,
                             Qt::NoButton, Qt::NoModifier));
    while (bus.lastCommandNs.load() == before)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const auto handled = Clock::time_point(Clock::duration(bus.lastCommandNs.load()));
    delaysMs.push_back(std::chrono::duration<double, std::milli>(handled - posted).count());
  }
  std::sort(delaysMs.begin(), delaysMs.end());
  auto at = [&](double q) { return delaysMs[std::size_t(q * double(delaysMs.size() - 1))]; };
  state.counters["p50_ms"] = at(0.50);
  state.counters["p99_ms"] = at(0.99);
  state.counters["max_ms"] = delaysMs.back();
  program.MainForm().close();
}
BENCHMARK(KeyClickDelay)->Iterations(300)->Unit(benchmark::kMillisecond)->UseRealTime();

// The UI thread's share of one core over two seconds: with no instrument (the baseline), and
// with the instrument streaming at its realistic rate and at full speed.
void UiThreadShare(benchmark::State& state) {
  bench::App();
  const int mode = int(state.range(0));  // 0: no instrument, 1: realistic, 2: full speed
  sim::SimulatedBus sim(Rate(mode != 2));
  if (mode != 0) sim.AttachInstrument();
  virtual_app::VirtualProgram program(sim, &sim);
  Pump(std::chrono::milliseconds(300));
  double share = 0;
  double packetsPerSecond = 0;
  for (auto _ : state) {
    const std::uint64_t presents = program.MainForm().Surface().PresentCount();
    const std::int64_t cpu = ThreadCpuNs();
    const auto wall = Clock::now();
    Pump(std::chrono::milliseconds(2000));
    const double wallNs = double((Clock::now() - wall).count());
    share = double(ThreadCpuNs() - cpu) / wallNs;
    // One present per pass of 32 packets.
    packetsPerSecond =
        double(program.MainForm().Surface().PresentCount() - presents) * 32 / (wallNs / 1e9);
  }
  state.counters["ui_core_percent"] = share * 100;
  state.counters["packets_per_s"] = packetsPerSecond;
  program.MainForm().close();
}
BENCHMARK(UiThreadShare)
    ->ArgName("mode")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace kd735
