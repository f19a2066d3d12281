#pragma once

#include <QByteArray>
#include <cstdint>
#include <cstring>

#include "files/file_record.h"

// Builds instrument records field by field for the tests.
namespace kd735::testing {

struct RecordBuilder {
  FileRecord record{};

  RecordBuilder& Byte(int offset, std::uint8_t value) {
    record[std::size_t(offset)] = value;
    return *this;
  }
  RecordBuilder& U32(int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
      record[std::size_t(offset + i)] = std::uint8_t(value >> (24 - 8 * i));
    return *this;
  }
  RecordBuilder& I32(int offset, std::int32_t value) { return U32(offset, std::uint32_t(value)); }
  // Raw bytes (Windows-1251 or plain ASCII), no terminating zero added.
  RecordBuilder& Text(int offset, const QByteArray& bytes) {
    std::memcpy(record.data() + offset, bytes.constData(), std::size_t(bytes.size()));
    return *this;
  }

  // A plausible measurement file: every field filled.
  static RecordBuilder Measurement() {
    RecordBuilder b;
    b.Byte(field::kFileKind, kMeasureKind)
        .Byte(field::kFileNumber, 5)
        .Text(field::kFileName, "TEST0001")
        .Text(field::kDateTimeText, "12.03.24 10:15")
        .Text(field::kDeviceNumber, "0123")
        .Text(field::kProbeType, "P112-5")
        .Text(field::kProbeNumber, "777")
        .U32(field::kProbeFrequency, 2)
        .U32(field::kSweepDelay, 10)
        .U32(field::kSweepWidth, 250)
        .U32(field::kVelocityCL, 592000)
        .U32(field::kProbeDelayTpep, 12345)
        .U32(field::kMeasureState, 2)
        .I32(field::kThickness, 1234);
    return b;
  }

  static RecordBuilder Bscan() {
    RecordBuilder b = Measurement();
    b.Byte(field::kFileKind, kBscanKind)
        .U32(field::kBscanLength, 350)
        .U32(field::kBscanSpeed, 1)
        .I32(field::kThicknessMin, -150)
        .I32(field::kThicknessMax, 2000);
    return b;
  }
};

}  // namespace kd735::testing
