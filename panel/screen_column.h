#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "link/transfer_record.h"

namespace kd735 {

// The instrument's monochrome screen.
inline constexpr int kScreenColumns = 128;
inline constexpr int kScreenRows = 64;

// One 64-row column travels as 8 bytes: byte j holds rows 56 - 8j .. 63 - 8j, its least
// significant bit being the topmost row of that band. So byte 7 is the top band, byte 0 the
// bottom one. Instrument files store their pictures the same way.
inline constexpr int kScreenColumnBytes = 8;
using ScreenColumn = std::array<std::uint8_t, kScreenColumnBytes>;
using ScreenColumnView = std::span<const std::uint8_t, kScreenColumnBytes>;

// First (topmost) row of the band held by byte j of a column.
constexpr int ScreenColumnBandTop(int j) { return 56 - 8 * j; }

// The column as a row mask: bit r is row r (row 0 topmost), set when the pixel is lit.
// The encoding amounts to a big-endian 64-bit word.
constexpr std::uint64_t DecodeScreenColumn(ScreenColumnView column) {
  std::uint64_t rows = 0;
  for (std::size_t j = 0; j < column.size(); ++j)
    rows |= std::uint64_t(column[j]) << ScreenColumnBandTop(int(j));
  return rows;
}

// True when row (0..63) of the column is lit; rows outside the column are unlit.
constexpr bool ScreenColumnPixel(ScreenColumnView column, int row) {
  if (row < 0 || row >= kScreenRows) return false;
  const auto j = std::size_t(7 - row / 8);  // 0..7: the row is in range
  return (column[j] >> (row % 8)) & 1;
}

// The inverse of DecodeScreenColumn.
constexpr ScreenColumn EncodeScreenColumn(std::uint64_t rows) {
  ScreenColumn column{};
  for (std::size_t j = 0; j < column.size(); ++j)
    column[j] = std::uint8_t(rows >> ScreenColumnBandTop(int(j)));
  return column;
}

// Layout of a screen packet of the stream: byte 2 is a marker (0x55: no screen columns), byte 3
// the index of the first of four columns, which follow from byte 8 on, 8 bytes each.
inline constexpr int kScreenMarkerByte = 2;
inline constexpr std::uint8_t kNoScreenColumnsMarker = 0x55;
inline constexpr int kScreenFirstColumnByte = 3;
inline constexpr int kScreenColumnsOffset = 8;
inline constexpr int kScreenColumnsPerPacket = 4;

// Column group i (0..3) of a screen packet.
inline ScreenColumnView ScreenPacketColumn(const Packet& packet, int i) {
  return ScreenColumnView(packet.data() + kScreenColumnsOffset + kScreenColumnBytes * i,
                          kScreenColumnBytes);
}

// A screen packet carrying four columns (row masks as DecodeScreenColumn gives them) from
// firstColumn on; the bytes this side does not use stay zero.
Packet MakeScreenPacket(std::uint8_t firstColumn,
                        const std::array<std::uint64_t, kScreenColumnsPerPacket>& columns);

}  // namespace kd735
