#include <gtest/gtest.h>

#include <thread>

#include "link/file_reading.h"
#include "link/link_controller.h"
#include "tests/link/fake_bus.h"

namespace kd735 {
namespace {

// Plugs and unplugs the instrument 100 times from another thread, as a hotplug thread would,
// while the link streams and reads files on this one. It must neither deadlock nor leave a reader
// running.
TEST(LinkSoak, HundredPlugCyclesWhileStreamingAndReading) {
  test::App();
  test::FakeBus bus;
  for (int i = 0; i < 4; ++i) {
    std::array<std::uint8_t, kFileRecordSize> f{};
    f.fill(std::uint8_t(i + 1));
    bus.files[kMeasureFileKind].push_back(f);
  }
  const TUSBPnPInfo device = test::MakeDevice("/dev/kd1", "KD735 N 1");
  bus.Attach(device);

  int frames = 0;
  auto link = std::make_unique<LinkController>(bus, [&](const Packet&) { ++frames; });
  link->Start();
  int filesRead = 0, failures = 0;
  InstrumentFileReader::Hooks hooks;
  hooks.showMessage = [&](MessageKind, const QString&) { ++failures; };
  hooks.appendFile = [&](const InstrumentFile&) { ++filesRead; };
  InstrumentFileReader reader(*link, hooks);

  std::atomic<bool> done{false};
  std::thread plugger([&] {
    for (int i = 0; i < 100; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      bus.Detach(device.DevPath);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      bus.Attach(device);
    }
    done = true;
  });
  int readings = 0;
  while (!done) {
    if (++readings % 2)
      reader.Read(FileSide::kMeasure);  // serves the device changes from inside the reading
    else
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  plugger.join();
  // The queued notifications settle on a connected instrument.
  test::PumpUntil([&] {
    return link->Instruments().size() == 1 && link->CurrentReader() &&
           !link->CurrentReader()->HasEnded();
  });
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);

  EXPECT_GT(frames, 0);
  EXPECT_GT(readings, 1);
  EXPECT_FALSE(reader.Busy());
  link->Shutdown();
  EXPECT_EQ(link->CurrentReader(), nullptr);
  // Each reconnection logged its connect command.
  EXPECT_GT(std::count_if(link->Log().begin(), link->Log().end(),
                          [](const QString& l) { return l.contains("AAAAh"); }),
            0);
}

}  // namespace
}  // namespace kd735
