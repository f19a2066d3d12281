#include "link/transfer_record.h"

#include <algorithm>

namespace kd735 {
namespace {

std::uint32_t ReadLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

void WriteLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}

constexpr int kEndpointOffset = 13;
constexpr int kDataOffsetField = 30;
constexpr int kDataLengthField = 34;

}  // namespace

std::uint32_t TransferRecord::DataOffset() const { return ReadLe32(bytes.data() + kDataOffsetField); }

std::uint32_t TransferRecord::DataLength() const { return ReadLe32(bytes.data() + kDataLengthField); }

Packet TransferRecord::DataPacket() const {
  Packet p;
  std::copy_n(bytes.begin() + kTransferHeaderSize, kPacketSize, p.begin());
  return p;
}

void PrepareTransferHeader(TransferRecord& record, std::uint8_t endpoint) {
  std::fill_n(record.bytes.begin(), kTransferHeaderSize, std::uint8_t{0});
  record.bytes[kEndpointOffset] = endpoint;
  WriteLe32(record.bytes.data() + kDataOffsetField, kTransferHeaderSize);
  WriteLe32(record.bytes.data() + kDataLengthField, kPacketSize);
}

TransferRecord MakeTransferRecord(std::uint8_t endpoint) {
  TransferRecord record;
  PrepareTransferHeader(record, endpoint);
  return record;
}

TransferRecord MakeTransferRecord(std::uint8_t endpoint, const Packet& data) {
  TransferRecord record = MakeTransferRecord(endpoint);
  std::copy(data.begin(), data.end(), record.bytes.begin() + kTransferHeaderSize);
  return record;
}

std::uint32_t TransferSizeRecord::Size() const { return ReadLe32(bytes.data() + 4); }

TransferSizeRecord MakeTransferSizeRecord(std::uint8_t endpoint, std::uint32_t size) {
  TransferSizeRecord record;
  record.bytes[0] = endpoint;
  WriteLe32(record.bytes.data() + 4, size);
  return record;
}

}  // namespace kd735
