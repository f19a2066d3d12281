#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/command_protocol.h"
#include "sim/instrument.h"

namespace kd735::sim {
namespace {

std::vector<Packet> Drain(Instrument& instrument) {
  std::vector<Packet> out;
  Packet p;
  while (instrument.TakeReply(p)) out.push_back(p);
  return out;
}

std::vector<Packet> RequestFile(Instrument& instrument, std::uint16_t kind, std::uint16_t index) {
  instrument.HandleCommand(BuildCommandPacket(command::kPrepare, 0));
  instrument.HandleCommand(BuildCommandPacket(command::kListFiles, kind));
  Drain(instrument);
  instrument.HandleCommand(BuildCommandPacket(command::kPrepare, 0));
  instrument.HandleCommand(BuildCommandPacket(command::kReadFile, index));
  return Drain(instrument);
}

std::uint32_t Be32(const FileRecord& r, std::size_t offset) {
  return std::uint32_t(r[offset]) << 24 | std::uint32_t(r[offset + 1]) << 16 |
         std::uint32_t(r[offset + 2]) << 8 | r[offset + 3];
}

Packet MessagePacket(int seconds, const std::vector<std::uint8_t>& cp1251) {
  Packet p = BuildCommandPacket(command::kScreenMessage, std::uint16_t(seconds * 50));
  for (std::size_t k = 0; k < cp1251.size(); ++k) p[7 + 2 * k] = cp1251[k];
  return p;
}

TEST(ScreenBitmap, PixelsFollowTheColumnEncoding) {
  ScreenBitmap s;
  s.SetPixel(0, 0, true);   // top row: byte 7, least significant bit
  s.SetPixel(1, 63, true);  // bottom row: byte 0, most significant bit
  s.SetPixel(2, 9, true);   // rows 8..15 live in byte 6
  EXPECT_EQ(s.Bytes()[7], 0x01);
  EXPECT_EQ(s.Bytes()[8 + 0], 0x80);
  EXPECT_EQ(s.Bytes()[16 + 6], 0x02);
  EXPECT_TRUE(s.Pixel(1, 63));
  EXPECT_FALSE(s.Pixel(1, 62));
  s.SetPixel(200, 5, true);  // outside: ignored
  EXPECT_FALSE(s.Pixel(200, 5));
}

TEST(Instrument, ListingAnswersEachKindWithItsCount) {
  Instrument instrument(7);
  const struct {
    std::uint16_t kind;
    std::uint16_t count;
  } cases[] = {{kMeasureFileKind, 3}, {kBscanFileKind, 2}, {0x00C3, 0}};
  for (const auto& c : cases) {
    instrument.HandleCommand(BuildCommandPacket(command::kPrepare, 0));
    instrument.HandleCommand(BuildCommandPacket(command::kListFiles, c.kind));
    const auto replies = Drain(instrument);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(ReplyWord(replies[0], 0), kListingReplyWord);
    EXPECT_EQ(ReplyWord(replies[0], 2), c.count) << c.kind;
  }
}

TEST(Instrument, FileArrivesAsOneHundredTwentyEightPacketsOfItsRecord) {
  Instrument instrument(7, "00456");
  for (const std::uint16_t kind : {kMeasureFileKind, kBscanFileKind}) {
    const auto packets = RequestFile(instrument, kind, 1);
    ASSERT_EQ(packets.size(), 128u);
    std::array<std::uint8_t, kFileRecordSize> buffer{};
    for (std::size_t n = 0; n < packets.size(); ++n) {
      ASSERT_TRUE(ReplyMatches(packets[n], kFilePacketWord, kind, 1));
      ASSERT_EQ(ReplyWord(packets[n], 3), n);
      ASSERT_TRUE(StoreFilePacket(packets[n], buffer));
    }
    const FileRecord& record = instrument.Files(std::uint8_t(kind))[1];
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), record.begin()));
    EXPECT_EQ(record[0], kind);
    EXPECT_EQ(record[1], 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&record[28])), "00456");
    EXPECT_TRUE(std::all_of(record.begin() + 2133, record.end(), [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(
        std::any_of(record.begin() + 1109, record.begin() + 2133, [](auto b) { return b; }));
  }
  const FileRecord& m = instrument.Files(kMeasureKind)[0];
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m[2])), "TEST0001");
  EXPECT_EQ(Be32(m, 157), 2u);
  EXPECT_GE(std::int32_t(Be32(m, 161)), 300);
  EXPECT_LE(std::int32_t(Be32(m, 161)), 3000);
  EXPECT_EQ(m[39], 0xCF);  // the probe type starts with a Cyrillic П in Windows-1251
  const FileRecord& b = instrument.Files(kBscanKind)[0];
  EXPECT_EQ(Be32(b, 173), 100u);
  EXPECT_EQ(Be32(b, 177), 2500u);
  EXPECT_LE(Be32(b, 169), 2u);
}

TEST(Instrument, SameSeedSameInstrumentOtherSeedOtherFiles) {
  Instrument a(3), b(3), c(4);
  EXPECT_EQ(a.Files(kMeasureKind), b.Files(kMeasureKind));
  EXPECT_EQ(a.Screen(), b.Screen());
  EXPECT_NE(a.Files(kMeasureKind), c.Files(kMeasureKind));
}

TEST(Instrument, RequestForAMissingFileStaysUnanswered) {
  Instrument instrument;
  EXPECT_TRUE(RequestFile(instrument, kBscanFileKind, 2).empty());
}

TEST(Instrument, PrepareDropsWhatAnEarlierExchangeLeftUnread) {
  Instrument instrument;
  instrument.HandleCommand(BuildCommandPacket(command::kListFiles, kMeasureFileKind));
  instrument.HandleCommand(BuildCommandPacket(command::kReadFile, 0));
  EXPECT_EQ(instrument.PendingReplies(), 129u);
  instrument.HandleCommand(BuildCommandPacket(command::kPrepare, 0));
  EXPECT_EQ(instrument.PendingReplies(), 0u);
}

TEST(Instrument, FileFaultsShapeThePacketSequence) {
  {
    Instrument instrument;
    instrument.Faults().missingPackets = {5, 127};
    const auto packets = RequestFile(instrument, kMeasureFileKind, 0);
    ASSERT_EQ(packets.size(), 126u);
    for (const auto& p : packets) {
      EXPECT_NE(ReplyWord(p, 3), 5);
      EXPECT_NE(ReplyWord(p, 3), 127);
    }
  }
  {
    Instrument instrument;
    instrument.Faults().foreignBefore = {10};
    const auto packets = RequestFile(instrument, kMeasureFileKind, 0);
    ASSERT_EQ(packets.size(), 130u);
    EXPECT_TRUE(ReplyMatches(packets[10], kFilePacketWord, kMeasureFileKind, 1));
    EXPECT_TRUE(ReplyMatches(packets[11], kFilePacketWord, kBscanFileKind, 0));
    EXPECT_EQ(ReplyWord(packets[10], 3), 10);
    EXPECT_EQ(ReplyWord(packets[11], 3), 10);
    EXPECT_TRUE(ReplyMatches(packets[12], kFilePacketWord, kMeasureFileKind, 0));
  }
  {
    Instrument instrument;
    instrument.Faults().oversizedBefore = {0};
    const auto packets = RequestFile(instrument, kBscanFileKind, 1);
    ASSERT_EQ(packets.size(), 129u);
    EXPECT_TRUE(ReplyMatches(packets[0], kFilePacketWord, kBscanFileKind, 1));
    EXPECT_EQ(ReplyWord(packets[0], 3), 128);
    EXPECT_EQ(ReplyWord(packets[1], 3), 0);
  }
}

TEST(Instrument, AnswerFaults) {
  Instrument instrument;
  instrument.Faults().wrongListingEchoes = 2;
  for (const std::uint16_t expected : {0x0E01, 0x0E01, 0x0E00}) {
    instrument.HandleCommand(BuildCommandPacket(command::kListFiles, kMeasureFileKind));
    const auto replies = Drain(instrument);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(ReplyWord(replies[0], 0), expected);
  }
  instrument.Faults().noAnswer = true;
  EXPECT_TRUE(instrument.HandleCommand(BuildCommandPacket(command::kListFiles, kMeasureFileKind)));
  EXPECT_TRUE(RequestFile(instrument, kMeasureFileKind, 0).empty());
  instrument.Faults().rejectCommands = true;
  EXPECT_FALSE(instrument.HandleCommand(BuildCommandPacket(command::kKey, key::kEnter)));
  EXPECT_EQ(instrument.CurrentPage(), Page::kMeasure);
}

TEST(Instrument, StreamSendsPassesOfThirtyTwoPacketsAndFillers) {
  Instrument instrument;
  instrument.SetFillerEveryPasses(1);
  const ScreenBitmap screen = instrument.Screen();
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 32; ++i) {
      const Packet p = instrument.NextStreamPacket();
      ASSERT_NE(p[2], 0x55);
      ASSERT_EQ(p[3], 4 * i);
      ASSERT_TRUE(std::equal(p.begin() + 8, p.begin() + 40, screen.Column(4 * i)));
      ASSERT_TRUE(std::all_of(p.begin() + 40, p.end(), [](auto b) { return b == 0; }));
    }
    EXPECT_EQ(instrument.NextStreamPacket()[2], 0x55);
  }
  instrument.Faults().stallStream = true;
  EXPECT_FALSE(instrument.StreamReady());
}

TEST(Instrument, PassShowsTheScreenAsItWasWhenThePassBegan) {
  Instrument instrument;
  instrument.SetFillerEveryPasses(0);
  const ScreenBitmap before = instrument.Screen();
  instrument.NextStreamPacket();
  instrument.HandleCommand(BuildCommandPacket(command::kKey, key::kEnter));
  for (int i = 1; i < 32; ++i) {
    const Packet p = instrument.NextStreamPacket();
    ASSERT_TRUE(std::equal(p.begin() + 8, p.begin() + 40, before.Column(4 * i)));
  }
  const Packet next = instrument.NextStreamPacket();
  EXPECT_EQ(next[3], 0);
  EXPECT_TRUE(std::equal(next.begin() + 8, next.begin() + 40, instrument.Screen().Column(0)));
}

TEST(Instrument, KeysRestartAndLockChangeTheScreen) {
  Instrument instrument(5);
  const ScreenBitmap start = instrument.Screen();
  const int thickness = instrument.ThicknessHundredths();
  const auto press = [&](std::uint16_t k) {
    instrument.HandleCommand(BuildCommandPacket(command::kKey, k));
  };

  press(key::kUp);
  EXPECT_EQ(instrument.ThicknessHundredths(), thickness + 10);
  EXPECT_NE(instrument.Screen(), start);
  press(key::kDown);
  EXPECT_EQ(instrument.Screen(), start);
  press(key::kRight);
  EXPECT_EQ(instrument.FrequencyCode(), 3);
  press(key::kLeft);

  press(key::kEnter);
  EXPECT_EQ(instrument.CurrentPage(), Page::kMenu);
  const ScreenBitmap menu = instrument.Screen();
  press(key::kDown);
  EXPECT_EQ(instrument.MenuIndex(), 1);
  EXPECT_NE(instrument.Screen(), menu);
  press(key::kEnter);
  EXPECT_EQ(instrument.CurrentPage(), Page::kFiles);
  press(key::kEscape);
  EXPECT_EQ(instrument.CurrentPage(), Page::kMenu);
  press(key::kUp);
  press(key::kUp);
  EXPECT_EQ(instrument.MenuIndex(), 3);  // wraps around
  press(key::kEscape);
  EXPECT_EQ(instrument.Screen(), start);

  instrument.HandleCommand(BuildCommandPacket(command::kLockKeys, 0));
  EXPECT_TRUE(instrument.KeysLocked());
  EXPECT_NE(instrument.Screen(), start);
  instrument.HandleCommand(BuildCommandPacket(command::kUnlockKeys, 0));
  EXPECT_EQ(instrument.Screen(), start);

  press(key::kEnter);
  press(key::kUp);
  instrument.HandleCommand(BuildCommandPacket(command::kRestart, 0));
  EXPECT_EQ(instrument.Restarts(), 1);
  EXPECT_EQ(instrument.CurrentPage(), Page::kMeasure);
  EXPECT_EQ(instrument.Screen(), start);
}

TEST(Instrument, MessageFrameIsShownForItsTime) {
  Instrument instrument;
  const ScreenBitmap start = instrument.Screen();
  // "Привет !!!" in Windows-1251, 4 s = 200 ticks of 20 ms.
  instrument.HandleCommand(
      MessagePacket(4, {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0x20, 0x21, 0x21, 0x21}));
  EXPECT_EQ(instrument.MessageText(), "\xCF\xF0\xE8\xE2\xE5\xF2 !!!");
  EXPECT_TRUE(instrument.MessageShown());
  const ScreenBitmap shown = instrument.Screen();
  EXPECT_NE(shown, start);
  EXPECT_TRUE(shown.Pixel(64, 20));  // the frame's top edge
  instrument.AdvanceTime(3999);
  EXPECT_EQ(instrument.Screen(), shown);
  instrument.AdvanceTime(1);
  EXPECT_FALSE(instrument.MessageShown());
  EXPECT_EQ(instrument.Screen(), start);
}

TEST(Instrument, EmptyMessageStillShowsAFrame) {
  Instrument instrument;
  const ScreenBitmap start = instrument.Screen();
  instrument.HandleCommand(MessagePacket(1, {}));
  EXPECT_TRUE(instrument.MessageShown());
  EXPECT_NE(instrument.Screen(), start);
  instrument.AdvanceTime(1000);
  EXPECT_EQ(instrument.Screen(), start);
}

}  // namespace
}  // namespace kd735::sim
