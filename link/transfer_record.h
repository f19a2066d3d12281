#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kd735 {

inline constexpr int kPacketSize = 64;
inline constexpr int kTransferHeaderSize = 38;
inline constexpr int kTransferRecordSize = kTransferHeaderSize + kPacketSize;  // 102

// The three bulk endpoints of the instrument.
inline constexpr std::uint8_t kCommandEndpoint = 0x01;
inline constexpr std::uint8_t kReplyEndpoint = 0x83;
inline constexpr std::uint8_t kStreamEndpoint = 0x82;

// One 64-byte packet as it travels on any endpoint.
using Packet = std::array<std::uint8_t, kPacketSize>;

// The in-memory record of every transfer: a 38-byte header (multi-byte fields little-endian)
// followed by the 64 data bytes. Backends read the endpoint and move the data bytes.
struct TransferRecord {
  std::array<std::uint8_t, kTransferRecordSize> bytes{};

  std::uint8_t Endpoint() const { return bytes[13]; }
  std::uint32_t DataOffset() const;
  std::uint32_t DataLength() const;
  std::span<std::uint8_t, kPacketSize> Data() {
    return std::span<std::uint8_t, kPacketSize>(bytes.data() + kTransferHeaderSize, kPacketSize);
  }
  std::span<const std::uint8_t, kPacketSize> Data() const {
    return std::span<const std::uint8_t, kPacketSize>(bytes.data() + kTransferHeaderSize,
                                                      kPacketSize);
  }
  Packet DataPacket() const;
};

// Clears the 38 header bytes and sets endpoint, data offset 38 and data length 64; the data bytes
// are left as they are (the stream loop relies on that).
void PrepareTransferHeader(TransferRecord& record, std::uint8_t endpoint);

// A wholly zeroed record with its header set for the endpoint.
TransferRecord MakeTransferRecord(std::uint8_t endpoint);

// A record for the command endpoint carrying the given packet.
TransferRecord MakeTransferRecord(std::uint8_t endpoint, const Packet& data);

// The 8-byte set-transfer-size record: endpoint, three zero bytes, size as little-endian 32-bit.
struct TransferSizeRecord {
  std::array<std::uint8_t, 8> bytes{};

  std::uint8_t Endpoint() const { return bytes[0]; }
  std::uint32_t Size() const;
};

TransferSizeRecord MakeTransferSizeRecord(std::uint8_t endpoint = kStreamEndpoint,
                                          std::uint32_t size = kPacketSize);

}  // namespace kd735
