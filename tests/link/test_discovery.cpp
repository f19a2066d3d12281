#include <gtest/gtest.h>

#include "link/device_discovery.h"
#include "tests/link/fake_bus.h"

namespace kd735 {
namespace {

TEST(Discovery, KeepsOnlyTheBareInstrumentIdInAnyCase) {
  struct Case {
    QStringList ids;
    bool listed;
  } cases[] = {
      {{"USB\\VID_0735&PID_0735"}, true},
      {{"usb\\vid_0735&pid_0735"}, true},
      {{"USB\\VID_0735&PID_0735&REV_0100"}, false},
      {{"USB\\VID_04B4&PID_8613"}, false},
      {{"USB\\VID_0735&PID_0735&REV_0100", "USB\\VID_0735&PID_0735"}, true},
      {{}, false},
  };
  for (const Case& c : cases) {
    test::FakeBus bus;
    bus.Attach(test::MakeDevice("/dev/a", "KD735 #1", c.ids));
    EXPECT_EQ(EnumerateInstruments(bus).size(), c.listed ? 1u : 0u)
        << c.ids.join(',').toStdString();
  }
}

TEST(Discovery, KeepsTheBusOrder) {
  test::FakeBus bus;
  bus.Attach(test::MakeDevice("/dev/a", "A"));
  bus.Attach(test::MakeDevice("/dev/x", "X", {"USB\\VID_1234&PID_0001"}));
  bus.Attach(test::MakeDevice("/dev/b", "B"));
  const DeviceList list = EnumerateInstruments(bus);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].DevPath, "/dev/a");
  EXPECT_EQ(list[1].DevPath, "/dev/b");
}

TEST(Discovery, DumpWritesEveryPropertyLine) {
  TUSBPnPInfo d = test::MakeDevice("/dev/bus/usb/001/004", "KD735 N 0012");
  d.DeviceID = 0xABCD;
  d.HardwareID = QStringList{"USB\\VID_0735&PID_0735", "USB\\VID_0735"};
  d.Mfg = "Cypress";
  DeviceList list{TUSBPnPInfo{}, d};
  QStringList log;
  DumpDeviceProperties(list, 1, log);

  ASSERT_EQ(log.size(), 30 + 2);  // two hardware-id item lines
  EXPECT_EQ(log[0], QStringLiteral("УСТРОЙСТВО    - 1 ") + QString(53, '*'));
  EXPECT_EQ(log[1], "DeviceID     0000ABCDh");
  EXPECT_EQ(log[2], "DevPath      /dev/bus/usb/001/004");
  EXPECT_EQ(log[3], "Capabilities 00000000h");
  EXPECT_EQ(log[9], "FriendlyName ");
  EXPECT_EQ(log[10], "CompatibleIDs       0");
  EXPECT_EQ(log[11], "HardwareID       2");
  EXPECT_EQ(log[12], "HardwareID 0  USB\\VID_0735&PID_0735");
  EXPECT_EQ(log[13], "HardwareID 1  USB\\VID_0735");
  EXPECT_EQ(log[14], "Mfg     Cypress");
  EXPECT_EQ(log[15], "LowerFilters       0");
  EXPECT_EQ(log[16], "UpperFilters       0");
  EXPECT_EQ(log[17], "Address ");
  EXPECT_EQ(log[18], "BusNumber       00000000h");
  EXPECT_EQ(log[25], "LocationInfo    KD735 N 0012");
  EXPECT_EQ(log[29], "UINumber        00000000h");
  EXPECT_EQ(log[30], "UINumberFormat  ");
  EXPECT_EQ(log[31], "");
}

TEST(Discovery, DumpRefusesIndexesOutsideTheList) {
  const DeviceList seven(7);
  for (int index : {-1, 6, 7}) {
    QStringList log;
    DumpDeviceProperties(seven, index, log);
    EXPECT_EQ(log, QStringList{QStringLiteral("Неправильный индекс устройства !!!")}) << index;
  }
  QStringList log;  // within 0..5 but past the end: refused instead of read
  DumpDeviceProperties(DeviceList(1), 1, log);
  EXPECT_EQ(log, QStringList{QStringLiteral("Неправильный индекс устройства !!!")});
}

}  // namespace
}  // namespace kd735
