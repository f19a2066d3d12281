#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "link/command_protocol.h"

namespace kd735 {
namespace {

TEST(TransferRecord, HeaderLayoutIsLittleEndianAtFixedOffsets) {
  TransferRecord r = MakeTransferRecord(kReplyEndpoint);
  ASSERT_EQ(r.bytes.size(), 102u);
  EXPECT_EQ(r.bytes[13], 0x83);
  EXPECT_EQ(r.bytes[30], 38);  // data offset, little-endian
  EXPECT_EQ(r.bytes[31], 0);
  EXPECT_EQ(r.bytes[34], 64);  // data length
  EXPECT_EQ(r.DataOffset(), 38u);
  EXPECT_EQ(r.DataLength(), 64u);
  constexpr std::size_t kClearedBytes[] = {0, 11, 12, 14, 21, 22, 29};
  for (const std::size_t i : kClearedBytes) EXPECT_EQ(r.bytes[i], 0) << i;

  // Re-preparing clears the header but keeps the data bytes.
  r.Data()[5] = 0x42;
  r.bytes[20] = 0x99;
  PrepareTransferHeader(r, kStreamEndpoint);
  EXPECT_EQ(r.bytes[20], 0);
  EXPECT_EQ(r.Endpoint(), 0x82);
  EXPECT_EQ(r.bytes[38 + 5], 0x42);

  const TransferSizeRecord s = MakeTransferSizeRecord();
  EXPECT_EQ(s.bytes, (std::array<std::uint8_t, 8>{0x82, 0, 0, 0, 64, 0, 0, 0}));
}

TEST(CommandProtocol, PacketHasBigEndianWordsAndZeroTail) {
  const Packet p = BuildCommandPacket(0x80EE, 0x0020);
  EXPECT_EQ(p[0], 0x80);
  EXPECT_EQ(p[1], 0xEE);
  EXPECT_EQ(p[2], 0x00);
  EXPECT_EQ(p[3], 0x20);
  EXPECT_TRUE(std::all_of(p.begin() + 4, p.end(), [](auto b) { return b == 0; }));
}

TEST(CommandProtocol, LogLines) {
  struct Case {
    std::uint16_t command, data;
    bool ok;
    const char* line;
  } cases[] = {
      {0x80EE, 0x0001, true, "Команда = 80EEh Данные 0001h OK"},
      {0x0BBB, 0x0000, false, "Команда = 0BBBh Данные 0000h Bad"},
      {0x0E00, 0x00E9, true, "Команда = 0E00h Данные 00E9h OK"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CommandLogLine(c.command, c.data, c.ok), QString::fromUtf8(c.line));
}

TEST(CommandProtocol, ReplyWordsAndMatching) {
  Packet reply{};
  EXPECT_EQ(ReplyWord(reply, 0), 0);  // a zeroed buffer reads as 0
  reply[0] = 0x33, reply[1] = 0x17, reply[2] = 0x00, reply[3] = 0xD6, reply[4] = 0x01,
  reply[5] = 0x02, reply[62] = 0xAB, reply[63] = 0xCD;
  EXPECT_EQ(ReplyWord(reply, 0), 0x3317);
  EXPECT_EQ(ReplyWord(reply, 2), 0x0102);
  EXPECT_EQ(ReplyWord(reply, 31), 0xABCD);
  EXPECT_EQ(ReplyWord(reply, 32), 0);
  EXPECT_EQ(ReplyWord(reply, -1), 0);
  EXPECT_TRUE(ReplyMatches(reply, 0x3317, 0x00D6, 0x0102));
  EXPECT_FALSE(ReplyMatches(reply, 0x3318, 0x00D6, 0x0102));
  EXPECT_FALSE(ReplyMatches(reply, 0x3317, 0x00E9, 0x0102));
  EXPECT_FALSE(ReplyMatches(reply, 0x3317, 0x00D6, 0x0103));
}

TEST(CommandProtocol, StoreFilePacketStaysInsideTheBuffer) {
  std::array<std::uint8_t, kFileRecordSize> buffer{};
  auto packet = [](std::uint16_t w0, std::uint16_t number, std::uint8_t fill) {
    Packet p{};
    p[0] = std::uint8_t(w0 >> 8), p[1] = std::uint8_t(w0);
    p[6] = std::uint8_t(number >> 8), p[7] = std::uint8_t(number);
    std::fill(p.begin() + 16, p.begin() + 48, fill);
    p[48] = 0xEE;  // outside the payload
    return p;
  };
  EXPECT_TRUE(StoreFilePacket(packet(0x3317, 127, 0x11), buffer));
  EXPECT_EQ(buffer[4064], 0x11);
  EXPECT_EQ(buffer[4095], 0x11);
  EXPECT_EQ(buffer[4063], 0x00);
  EXPECT_TRUE(StoreFilePacket(packet(0x3317, 0, 0x22), buffer));
  EXPECT_EQ(buffer[0], 0x22);
  EXPECT_EQ(buffer[31], 0x22);
  EXPECT_EQ(buffer[32], 0x00);

  const auto before = buffer;
  EXPECT_FALSE(StoreFilePacket(packet(0x3318, 1, 0x33), buffer));  // not a file packet
  for (std::uint16_t n : {128, 255, 0xFFFF})
    EXPECT_FALSE(StoreFilePacket(packet(0x3317, n, 0x44), buffer));
  EXPECT_EQ(buffer, before);
}

}  // namespace
}  // namespace kd735
