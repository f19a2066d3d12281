// The virtual program without --simulate: over libusb, against an instrument that umockdev
// emulates. The stream is drawn and a key command reaches the instrument.
#include <gtest/gtest.h>

#include <QAbstractButton>

#include "apps/virtual/virtual_program.h"
#include "link/libusb_bus.h"
#include "tests/apps/gui_support.h"
#include "tests/common/requirements.h"
#include "tests/link/usb_testbed.h"

namespace kd735::gui_test {
namespace {

using testing::PumpUntil;

TEST(ProgramOverUsb, VirtualProgramDrawsTheStreamAndSendsKeys) {
  App();
  test::UsbTestbed bed;  // before libusb starts
  KD735_NEED(bed.Active(), "umockdev's preload library");
  const int devnum = bed.AddInstrument("00123", 5);

  LibusbBus bus;
  virtual_app::VirtualProgram program(bus, nullptr);
  TPanelForm& main = program.MainForm();
  EXPECT_EQ(main.Footer()->PanelText(0), QStringLiteral("KD735 N 00123"));

  // A lit pixel inside the picture: the instrument's screen came over the stream endpoint.
  auto lit = [&] {
    const QImage& shown = main.Screen()->Presented();
    for (int y = 4; y < 132; ++y)
      for (int x = 4; x < 260; ++x)
        if (shown.pixel(x, y) == qRgb(255, 255, 0)) return true;
    return false;
  };
  ASSERT_TRUE(PumpUntil(lit));

  main.findChild<QAbstractButton*>("EnterSpeedButton")->click();
  EXPECT_TRUE(
      program.LinkForm().Link().Log().last().endsWith(QStringLiteral("80EEh Данные 0002h OK")))
      << program.LinkForm().Link().Log().last().toStdString();
  bed.WithInstrument(devnum,
                     [](sim::Instrument& i) { EXPECT_EQ(i.CurrentPage(), sim::Page::kMenu); });

  // Unplugged: the footer says so.
  bed.Unplug(devnum);
  bed.Remove(devnum);
  ASSERT_TRUE(PumpUntil(
      [&] { return main.Footer()->PanelText(0) == QStringLiteral("Нет связи c КД735!!!"); }));
  main.close();
}

}  // namespace
}  // namespace kd735::gui_test
