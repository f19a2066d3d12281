#include "link/command_protocol.h"

#include <algorithm>

namespace kd735 {

Packet BuildCommandPacket(std::uint16_t command, std::uint16_t data) {
  Packet p{};
  p[0] = std::uint8_t(command >> 8);
  p[1] = std::uint8_t(command);
  p[2] = std::uint8_t(data >> 8);
  p[3] = std::uint8_t(data);
  return p;
}

QString CommandLogLine(std::uint16_t command, std::uint16_t data, bool ok) {
  const auto hex4 = [](std::uint16_t v) {
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper();
  };
  return QStringLiteral("Команда = ") + hex4(command) + QStringLiteral("h Данные ") + hex4(data) +
         (ok ? QStringLiteral("h OK") : QStringLiteral("h Bad"));
}

std::uint16_t ReplyWord(const Packet& reply, int n) {
  if (n < 0 || n >= kPacketSize / 2) return 0;
  const std::size_t high = 2 * std::size_t(n);  // in range: checked above
  return std::uint16_t(reply[high] << 8 | reply[high + 1]);
}

bool ReplyMatches(const Packet& reply, std::uint16_t w0, std::uint16_t w1, std::uint16_t w2) {
  return ReplyWord(reply, 0) == w0 && ReplyWord(reply, 1) == w1 && ReplyWord(reply, 2) == w2;
}

bool StoreFilePacket(const Packet& reply, std::span<std::uint8_t, kFileRecordSize> fileBuffer) {
  if (ReplyWord(reply, 0) != kFilePacketWord) return false;
  const int number = ReplyWord(reply, 3);
  if (number > kLastFilePacket) return false;
  std::copy_n(reply.begin() + kFilePayloadOffset, kFilePacketPayload,
              fileBuffer.begin() + kFilePacketPayload * number);
  return true;
}

}  // namespace kd735
