#include "panel/screen_column.h"

#include <algorithm>

namespace kd735 {

Packet MakeScreenPacket(std::uint8_t firstColumn,
                        const std::array<std::uint64_t, kScreenColumnsPerPacket>& columns) {
  Packet packet{};
  packet[kScreenFirstColumnByte] = firstColumn;
  for (int i = 0; i < kScreenColumnsPerPacket; ++i) {
    const ScreenColumn column = EncodeScreenColumn(columns[i]);
    std::copy(column.begin(), column.end(),
              packet.begin() + kScreenColumnsOffset + kScreenColumnBytes * i);
  }
  return packet;
}

}  // namespace kd735
