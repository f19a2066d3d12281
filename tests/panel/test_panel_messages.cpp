#include <gtest/gtest.h>

#include <QString>
#include <vector>

#include "panel/panel_commands.h"
#include "panel/screen_message.h"

namespace kd735 {
namespace {

Packet Bytes(std::vector<int> head) {
  Packet p{};
  for (std::size_t i = 0; i < head.size(); ++i) p[i] = std::uint8_t(head[i]);
  return p;
}

TEST(ScreenMessage, PacketBytes) {
  struct Case {
    int seconds;
    QString text;
    Packet want;
  } cases[] = {
      {kScreenMessageDefaultSeconds, kScreenMessageDefaultText.toString(),
       Bytes({0x00, 0x55, 0x00, 0xC8, 0x00, 0x00, 0x00, 0xCF, 0x00, 0xF0, 0x00, 0xE8, 0x00,
              0xE2, 0x00, 0xE5, 0x00, 0xF2, 0x00, 0x20, 0x00, 0x21, 0x00, 0x21, 0x00, 0x21})},
      {20, QString(), Bytes({0x00, 0x55, 0x03, 0xE8})},
      {1, QString(), Bytes({0x00, 0x55, 0x00, 0x32})},
      // Blanks are sent as typed; 1251 has its own codes for Ё, ё, № and €.
      {4, QStringLiteral(" Ёё№€ "),
       Bytes({0, 0x55, 0, 0xC8, 0, 0, 0, 0x20, 0, 0xA8, 0, 0xB8, 0, 0xB9, 0, 0x88, 0, 0x20})},
      // No 1251 code: '?'. A surrogate pair is one character.
      {4, QStringLiteral("中a😀b"), Bytes({0, 0x55, 0, 0xC8, 0, 0, 0, '?', 0, 'a', 0, '?', 0, 'b'})},
      // Outside the window's range the time is held to 1..20 s.
      {0, QStringLiteral("x"), Bytes({0, 0x55, 0x00, 0x32, 0, 0, 0, 'x'})},
      {2000, QStringLiteral("x"), Bytes({0, 0x55, 0x03, 0xE8, 0, 0, 0, 'x'})},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildScreenMessagePacket(c.seconds, c.text), c.want) << c.text.toStdString();
}

TEST(ScreenMessage, TextStopsAfterSixteenCharacters) {
  const QString sixteen = QStringLiteral("АБВГДЕЖЗИЙКЛМНОП");
  ASSERT_EQ(sixteen.size(), kScreenMessageMaxChars);
  const Packet p = BuildScreenMessagePacket(4, sixteen);
  EXPECT_EQ(p[36], 0x00);
  EXPECT_EQ(p[37], 0xCF);  // П, the last character
  for (std::size_t i = 38; i < p.size(); ++i) EXPECT_EQ(p[i], 0) << i;
  EXPECT_EQ(BuildScreenMessagePacket(4, sixteen + QStringLiteral("Р")), p);
  EXPECT_EQ(ScreenMessageText(sixteen + QStringLiteral("Р")), sixteen);
  EXPECT_EQ(ScreenMessageText(QStringLiteral("中 !")), QStringLiteral("? !"));
}

TEST(ScreenMessage, LogLines) {
  EXPECT_EQ(ScreenMessageLogLine(QStringLiteral("Привет !!!"), true, 64),
            QStringLiteral("Сообщение = Привет !!!  OK 64"));
  EXPECT_EQ(ScreenMessageLogLine(QStringLiteral("Привет !!!"), false),
            QStringLiteral("Сообщение = Привет !!!  Bad"));
  EXPECT_EQ(ScreenMessageLogLine(QString(), true, 0), QStringLiteral("Сообщение =   OK 0"));
}

TEST(PanelCommands, EveryControlSendsItsCommand) {
  struct Case {
    PanelControl control;
    bool lockDown;
    std::uint16_t command, data;
  } cases[] = {
      {PanelControl::Escape, false, 0x80EE, 0x0001},  {PanelControl::Enter, false, 0x80EE, 0x0002},
      {PanelControl::Up, false, 0x80EE, 0x0004},      {PanelControl::Down, false, 0x80EE, 0x0008},
      {PanelControl::Left, false, 0x80EE, 0x0010},    {PanelControl::Right, false, 0x80EE, 0x0020},
      {PanelControl::Restart, false, 0x80AA, 0x0000}, {PanelControl::KeyLock, true, 0x8011, 0x0000},
      {PanelControl::KeyLock, false, 0x8022, 0x0000},
  };
  for (const auto& c : cases) {
    const PanelCommand got = PanelCommandFor(c.control, c.lockDown);
    EXPECT_EQ(got.control, c.control) << got.name;
    EXPECT_EQ(got.command, c.command) << got.name;
    EXPECT_EQ(got.data, c.data) << got.name;
  }
  EXPECT_EQ(PanelCommandFor(PanelControl::Enter).label, QStringLiteral("Ввод"));

  // The lock button starts up; each click toggles it before the command is chosen.
  bool down = false;
  down = !down;
  EXPECT_EQ(KeyLockCommand(down), 0x8011);
  down = !down;
  EXPECT_EQ(KeyLockCommand(down), 0x8022);
}

}  // namespace
}  // namespace kd735
