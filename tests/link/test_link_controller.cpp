#include <gtest/gtest.h>

#include <QLocale>
#include <QTimer>

#include "link/link_controller.h"
#include "tests/link/fake_bus.h"

namespace kd735 {
namespace {

using test::FakeBus;
using test::MakeDevice;

class LinkControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::App();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
  }

  std::unique_ptr<LinkController> Make() {
    auto link = std::make_unique<LinkController>(bus, [this](const Packet&) { ++frames; });
    return link;
  }

  FakeBus bus;
  int frames = 0;
};

const QString kCommandLineConnect = QStringLiteral("Команда = AAAAh Данные 0000h OK");

TEST_F(LinkControllerTest, StartWithoutInstrument) {
  auto link = Make();
  link->Start();
  EXPECT_EQ(link->Log(), (QStringList{
                             QStringLiteral("001   "),
                             QStringLiteral("002  USB событие DBT_DEVNODES_CHANGED"),
                             QStringLiteral("003  Не было потока данных!"),
                             QStringLiteral("004  "),
                             QStringLiteral("005  Подключено 0 толщиномеров"),
                             QStringLiteral("006  "),
                         }));
  EXPECT_EQ(link->StatusText(LinkController::kLinkPanel), QStringLiteral("Нет связи c КД735!!!"));
  EXPECT_FALSE(link->TimerActive());
  EXPECT_TRUE(link->Instruments().isEmpty());
  EXPECT_EQ(link->SelectedInstrument(), -1);
}

TEST_F(LinkControllerTest, StartWithOneInstrument) {
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 0042"));
  auto link = Make();
  QStringList panel0;
  QObject::connect(link.get(), &LinkController::statusTextChanged,
                   [&](int panel, const QString& text) {
                     if (panel == 0) panel0 << text;
                   });
  link->Start();
  EXPECT_EQ(link->Log(), (QStringList{
                             QStringLiteral("001   "),
                             QStringLiteral("002  USB событие DBT_DEVNODES_CHANGED"),
                             QStringLiteral("003  Не было потока данных!"),
                             QStringLiteral("004  String=  KD735 N 0042"),
                             QStringLiteral("005  "),
                             QStringLiteral("006  Подключено 1 толщиномеров"),
                             QStringLiteral("007  "),
                             QStringLiteral("008  Старт потока данных USB!"),
                             QStringLiteral("009  ") + kCommandLineConnect,
                         }));
  EXPECT_EQ(panel0, (QStringList{QStringLiteral("КД735 подключен!!!"), "KD735 N 0042"}));
  EXPECT_TRUE(link->TimerActive());
  EXPECT_EQ(link->LinkDevicePath(), "/dev/kd1");
  ASSERT_EQ(bus.commands.size(), 1u);
  EXPECT_EQ(bus.commands[0], BuildCommandPacket(0xAAAA, 0));

  // The stream reaches the frame handler.
  ASSERT_TRUE(test::PumpUntil([&] { return frames >= 3; }));
}

TEST_F(LinkControllerTest, OtherEventCodeAddsOnlyOneLine) {
  auto link = Make();
  link->Start();
  const QStringList before = link->Log();
  link->HandleDeviceChange(0x8000);
  EXPECT_EQ(link->Log(), before + QStringList{QStringLiteral("другое событие 00008000h")});
  link->LogEvent("x");
  EXPECT_EQ(link->Log().last(), "007  x");  // unnumbered lines do not count
}

TEST_F(LinkControllerTest, FailedStreamOpenThenDeviceChange) {
  bus.failStreamOpen = true;
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  auto link = Make();
  link->Start();
  EXPECT_EQ(link->Log()[7], QStringLiteral("008  Неправильный Handle!"));
  EXPECT_FALSE(link->TimerActive());
  ASSERT_TRUE(link->CurrentReader());
  EXPECT_TRUE(link->CurrentReader()->IsSuspended());

  const int from = link->Log().size();
  link->HandleDeviceChange(7);
  const QStringList after = link->Log().mid(from);
  ASSERT_GE(after.size(), 3);
  EXPECT_EQ(after[0], QStringLiteral("010  USB событие DBT_DEVNODES_CHANGED"));
  EXPECT_EQ(after[1], QStringLiteral("011  Продолжение работы потока данных USB!"));
  EXPECT_EQ(after[2], QStringLiteral("012  Не могу закрыть !"));
}

TEST_F(LinkControllerTest, RefusedOpenSaysWhy) {
  // No access: the udev rule is named. Claimed by another process: the log says it is busy.
  for (const bool busy : {false, true}) {
    FakeBus other;
    other.failStreamOpen = true;
    other.accessDenied = !busy;
    other.busy = busy;
    other.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
    LinkController link(other, nullptr);
    link.Start();
    ASSERT_GT(link.Log().size(), 8);
    EXPECT_EQ(link.Log()[7], QStringLiteral("008  Неправильный Handle!"));
    EXPECT_TRUE(link.Log()[8].contains(busy ? QStringLiteral("занят другой программой")
                                            : QStringLiteral("link/60-kd735.rules")))
        << link.Log()[8].toStdString();
    link.Shutdown();
  }
}

TEST_F(LinkControllerTest, TwoInstrumentsUseTheFirstWhateverIsSelected) {
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  bus.Attach(MakeDevice("/dev/kd2", "KD735 N 2"));
  auto link = Make();
  link->Start();
  EXPECT_EQ(link->Instruments(), (QStringList{"KD735 N 1", "KD735 N 2"}));
  EXPECT_EQ(link->SelectedInstrument(), 0);
  EXPECT_EQ(link->StatusText(LinkController::kLinkPanel), "KD735 N 1");

  link->SelectInstrument(1);
  link->ShowProperties();
  EXPECT_TRUE(link->Log().contains("DevPath      /dev/kd2"));
  link->SendCommand(0x80EE, 0x0020);
  EXPECT_EQ(bus.commandPaths, (std::vector<QString>{"/dev/kd1", "/dev/kd1"}));
}

TEST_F(LinkControllerTest, VirtualProgramPropertiesStartWithTheSoftwareIdentification) {
  auto link = Make();
  link->Start();
  const int from = link->Log().size();
  link->ShowProperties(true);  // nothing selected: no identification either
  EXPECT_EQ(link->Log().mid(from),
            QStringList{QStringLiteral("Неправильный индекс устройства !!!")});

  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  ASSERT_TRUE(test::PumpUntil([&] { return link->SelectedInstrument() == 0; }));
  const int next = link->Log().size();
  link->ShowProperties(true);
  const QStringList lines = link->Log().mid(next);
  ASSERT_EQ(lines.size(), 3 + 30 + 1);
  EXPECT_EQ(lines[0], QStringLiteral(" Идентификационные данные ПО "));
  EXPECT_EQ(lines[1], QStringLiteral(" Версия ПО  V01.10"));
  EXPECT_EQ(lines[2], QString::fromUtf16(u" Цифровой идентификатор 0x6\u0421C5A3F4"));
  EXPECT_TRUE(lines[3].startsWith(QStringLiteral("УСТРОЙСТВО    - 0 ")));
}

TEST_F(LinkControllerTest, ReconnectionAfterUnplugAndReplug) {
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  auto link = Make();
  link->Start();
  bus.Detach("/dev/kd1");
  ASSERT_TRUE(test::PumpUntil([&] { return link->Instruments().isEmpty(); }));
  EXPECT_EQ(link->StatusText(LinkController::kLinkPanel), QStringLiteral("Нет связи c КД735!!!"));
  // The stopped reader is kept, so the timer still runs on it.
  EXPECT_TRUE(link->TimerActive());
  EXPECT_TRUE(link->CurrentReader()->HasEnded());

  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  ASSERT_TRUE(test::PumpUntil([&] { return !link->Instruments().isEmpty(); }));
  EXPECT_EQ(link->StatusText(LinkController::kLinkPanel), "KD735 N 1");
  EXPECT_FALSE(link->CurrentReader()->HasEnded());
  EXPECT_EQ(bus.commands.size(), 2u);
}

TEST_F(LinkControllerTest, AStopServesOnlyTheReadersHandOffs) {
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  auto link = Make();
  link->Start();
  ASSERT_TRUE(test::PumpUntil([&] { return frames >= 2; }));
  // An event queued before a reconnection (here a shutdown) must not run inside its stop.
  bool shutDown = false;
  QTimer::singleShot(0, link.get(), [&] {
    shutDown = true;
    link->Shutdown();
  });
  link->HandleDeviceChange(7);
  EXPECT_FALSE(shutDown);
  EXPECT_EQ(bus.commands.size(), 2u);
  ASSERT_NE(link->CurrentReader(), nullptr);
  EXPECT_FALSE(link->CurrentReader()->HasEnded());
  ASSERT_TRUE(test::PumpUntil([&] { return shutDown; }));
  EXPECT_EQ(link->CurrentReader(), nullptr);
}

TEST_F(LinkControllerTest, LogClearsAfterFiveHundredLines) {
  auto link = Make();
  for (int i = 1; i <= 501; ++i) link->LogEvent(QString::number(i));
  EXPECT_EQ(link->Log().size(), 501);
  EXPECT_EQ(link->Log().last(), "501  501");
  link->LogEvent("next");
  EXPECT_EQ(link->Log(), (QStringList{QStringLiteral(" Очистка сообщений"), "001  next"}));
}

TEST_F(LinkControllerTest, ClearKeepsTheNumbering) {
  auto link = Make();
  link->Start();
  link->ClearLog();
  EXPECT_TRUE(link->Log().isEmpty());
  link->LogEvent("after");
  EXPECT_EQ(link->Log(), QStringList{"007  after"});
}

TEST_F(LinkControllerTest, CommandsWithoutChannelFail) {
  auto link = Make();
  EXPECT_FALSE(link->SendCommand(0x0BBB, 0));
  EXPECT_EQ(link->Log().last(), QStringLiteral("001  Команда = 0BBBh Данные 0000h Bad"));
  EXPECT_FALSE(link->ReadReply());
  EXPECT_EQ(link->ReplyWord(0), 0);
}

TEST_F(LinkControllerTest, FailedReplyReadLeavesZeroWords) {
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  auto link = Make();
  link->Start();
  bus.replies.push_back(BuildCommandPacket(0x0E00, 5));
  ASSERT_TRUE(link->ReadReply());
  EXPECT_TRUE(link->ReplyMatches(0x0E00, 5, 0));
  EXPECT_FALSE(link->ReplyMatches(0x0E00, 5, 1));
  EXPECT_FALSE(link->ReadReply());  // nothing queued
  EXPECT_EQ(link->ReplyWord(0), 0);
  EXPECT_EQ(link->ReplyWord(1), 0);
}

TEST_F(LinkControllerTest, RateTexts) {
  struct Case {
    std::int64_t bytes;
    const char16_t* byteRate;
    const char16_t* frameRate;
  } cases[] = {
      {0, u" 000 000 байт/c", u"  00,0 кадр/c"},
      {6400, u" 006 400 байт/c", u"  05,0 кадр/c"},
      {64, u" 000 064 байт/c", u"  00,1 кадр/c"},  // 0.05 rounds up
      {128000, u" 128 000 байт/c", u"  100,0 кадр/c"},
      {1234567, u" 1234 567 байт/c", u"  964,5 кадр/c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LinkController::ByteRateText(c.bytes), QString::fromUtf16(c.byteRate)) << c.bytes;
    EXPECT_EQ(LinkController::FrameRateText(c.bytes), QString::fromUtf16(c.frameRate)) << c.bytes;
  }
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(LinkController::FrameRateText(6400), QString::fromUtf16(u"  05.0 кадр/c"));
}

TEST_F(LinkControllerTest, TimerShowsAndResetsTheCounter) {
  bus.Attach(MakeDevice("/dev/kd1", "KD735 N 1"));
  auto link = Make();
  link->Start();
  ASSERT_TRUE(test::PumpUntil([&] { return link->CurrentReader()->ReceivedBytes() >= 640; }));
  // Once a wait has timed out after the switch, nothing more is counted.
  bus.streamMode = FakeBus::StreamMode::kTimeOut;
  const int aborts = bus.aborts;
  ASSERT_TRUE(test::PumpUntil([&] { return bus.aborts > aborts + 1; }));
  link->TimerTimer();
  EXPECT_NE(link->StatusText(LinkController::kByteRatePanel), QStringLiteral(" 000 000 байт/c"));
  link->TimerTimer();
  EXPECT_EQ(link->StatusText(LinkController::kByteRatePanel), QStringLiteral(" 000 000 байт/c"));
  EXPECT_EQ(link->StatusText(LinkController::kFrameRatePanel), QStringLiteral("  00,0 кадр/c"));
}

}  // namespace
}  // namespace kd735
