#pragma once

#include <QString>
#include <cstdint>
#include <span>

#include "link/transfer_record.h"

namespace kd735 {

// Command words the programs send (data words not listed are 0).
namespace command {
inline constexpr std::uint16_t kConnect = 0xAAAA;
inline constexpr std::uint16_t kKey = 0x80EE;
inline constexpr std::uint16_t kRestart = 0x80AA;
inline constexpr std::uint16_t kLockKeys = 0x8011;
inline constexpr std::uint16_t kUnlockKeys = 0x8022;
inline constexpr std::uint16_t kPrepare = 0x0BBB;
inline constexpr std::uint16_t kListFiles = 0x0E00;
inline constexpr std::uint16_t kReadFile = 0x0E15;
inline constexpr std::uint16_t kScreenMessage = 0x0055;
}  // namespace command

// Data words of the key command: one bit per key.
namespace key {
inline constexpr std::uint16_t kEscape = 0x0001;
inline constexpr std::uint16_t kEnter = 0x0002;
inline constexpr std::uint16_t kUp = 0x0004;
inline constexpr std::uint16_t kDown = 0x0008;
inline constexpr std::uint16_t kLeft = 0x0010;
inline constexpr std::uint16_t kRight = 0x0020;
}  // namespace key

// File kinds as the listing and file requests name them (also the record's kind byte).
inline constexpr std::uint16_t kMeasureFileKind = 0x00D6;
inline constexpr std::uint16_t kBscanFileKind = 0x00E9;

// Word 0 of the replies.
inline constexpr std::uint16_t kListingReplyWord = 0x0E00;
inline constexpr std::uint16_t kFilePacketWord = 0x3317;
inline constexpr std::uint16_t kLastFilePacket = 127;

inline constexpr int kFileRecordSize = 4096;
inline constexpr int kFilePacketPayload = 32;
inline constexpr int kFilePayloadOffset = 16;

// The 64 data bytes of a command: command word and data word big-endian, 60 zero bytes.
Packet BuildCommandPacket(std::uint16_t command, std::uint16_t data);

// The log line of one sent command: "Команда = XXXXh Данные XXXXh OK" (or "h Bad").
QString CommandLogLine(std::uint16_t command, std::uint16_t data, bool ok);

// Big-endian word n (0..31) of a reply; 0 for n outside the packet.
std::uint16_t ReplyWord(const Packet& reply, int n);

// True when reply words 0, 1 and 2 equal w0, w1 and w2.
bool ReplyMatches(const Packet& reply, std::uint16_t w0, std::uint16_t w1, std::uint16_t w2);

// Copies the 32 file bytes of a file packet (word 0 is 0x3317) into the file buffer at offset
// 32 x packet number. A packet number above 127 would land outside the 4096-byte buffer: such a
// packet is ignored. Returns true when the bytes were stored.
bool StoreFilePacket(const Packet& reply, std::span<std::uint8_t, kFileRecordSize> fileBuffer);

}  // namespace kd735
