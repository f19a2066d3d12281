// Plugging and unplugging the instrument over and over while the stream runs and while a key
// command is under way: no crash, no hang, and the link state follows every time.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <random>
#include <thread>

#include "tests/apps/program_rig.h"

namespace kd735::gui_test {
namespace {

using testing::PumpUntil;

using namespace std::chrono_literals;

TEST(ProgramSoak, HundredUnplugsAndReplugsWhileStreamingAndSendingKeys) {
  for (const Which which : {Which::kVirtual, Which::kReport}) {
    SCOPED_TRACE(Name(which));
    ProgramRig rig(which);
    auto* enter = rig.Find<QAbstractButton>("EnterSpeedButton");
    const QString location = QStringLiteral("KD735 N 00123");
    const QString noLink = QStringLiteral("Нет связи c КД735!!!");
    std::mt19937 random(which == Which::kReport ? 7 : 11);
    const int cycles = 100;
    for (int cycle = 0; cycle < cycles; ++cycle) {
      SCOPED_TRACE(cycle);
      // The plug changes come from another thread, at a random moment of a key command.
      const auto delay = std::chrono::microseconds(random() % 3000);
      std::thread unplug([&] {
        std::this_thread::sleep_for(delay);
        rig.sim.Detach(rig.path);
      });
      enter->click();
      unplug.join();
      ASSERT_TRUE(PumpUntil(
          [&] {
            enter->click();
            return rig.Panel(0) == noLink;
          },
          10s));

      std::thread plug([&] {
        std::this_thread::sleep_for(delay);
        rig.path = rig.sim.AttachInstrument(1, QStringLiteral("00123"));
      });
      enter->click();
      plug.join();
      ASSERT_TRUE(PumpUntil([&] { return rig.Panel(0) == location; }, 10s));
    }
    // Still alive and drawing: the stream presents again and a key goes through.
    const std::uint64_t presents = rig.main->Surface().PresentCount();
    ASSERT_TRUE(PumpUntil([&] { return rig.main->Surface().PresentCount() > presents + 2; }));
    rig.TakeCommands();
    enter->click();
    EXPECT_EQ(rig.TakeCommands().size(), 1u);
    EXPECT_TRUE(rig.Link().Log().last().endsWith(QStringLiteral("h OK")));
  }
}

}  // namespace
}  // namespace kd735::gui_test
