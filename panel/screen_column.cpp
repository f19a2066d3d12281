#include "panel/screen_column.h"

#include <algorithm>

namespace kd735 {

Packet MakeScreenPacket(std::uint8_t firstColumn,
                        const std::array<std::uint64_t, kScreenColumnsPerPacket>& columns) {
  Packet packet{};
  packet[kScreenFirstColumnByte] = firstColumn;
  auto out = packet.begin() + kScreenColumnsOffset;
  for (const std::uint64_t rows : columns) {
    const ScreenColumn column = EncodeScreenColumn(rows);
    out = std::copy(column.begin(), column.end(), out);
  }
  return packet;
}

}  // namespace kd735
