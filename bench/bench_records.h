#pragma once

#include <algorithm>

#include "files/file_record.h"

namespace kd735::bench {

// A measurement record for the report benchmarks, with a picture of its own for every number:
// the number's bits in the columns.
inline TKD735FileContent SampleMeasurement(int number) {
  TKD735FileContent c;
  auto& r = c.record;
  r[field::kFileKind] = kMeasureKind;
  r[field::kFileNumber] = static_cast<std::uint8_t>(number & 0xFF);
  const char name[] = "TEST0001", date[] = "12.03.24 10:15";
  std::copy(name, name + 8, r.begin() + field::kFileName);
  std::copy(date, date + 14, r.begin() + field::kDateTimeText);
  r[field::kMeasureState + 3] = 2;
  r[field::kThickness + 2] = 0x04;
  r[field::kThickness + 3] = 0xD2;
  for (std::size_t col = 0; col < 128; ++col) {
    r[field::kPictureData + 8 * col + col % 8] = 0x81;
    if ((number >> (col % 16)) & 1) r[field::kPictureData + 8 * col + 3] = 0xFF;
  }
  return c;
}

}  // namespace kd735::bench
