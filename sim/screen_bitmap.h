#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kd735::sim {

inline constexpr int kScreenWidth = 128;
inline constexpr int kScreenHeight = 64;
inline constexpr int kColumnBytes = 8;
inline constexpr int kScreenBytes = kScreenWidth * kColumnBytes;  // 1024

// The instrument's 128 x 64 monochrome screen, kept directly in the instrument's column encoding:
// column c is the 8 bytes at 8c; byte 7 holds rows 0..7, byte 0 rows 56..63, and the least
// significant bit of each byte is the topmost row of its band. The stream packets and the picture
// of a file record copy these bytes unchanged.
class ScreenBitmap {
 public:
  void Clear() { bytes_.fill(0); }
  bool Pixel(int x, int y) const;
  void SetPixel(int x, int y, bool lit);
  void FillRect(int x, int y, int w, int h, bool lit);
  void InvertRect(int x, int y, int w, int h);
  void DrawFrame(int x, int y, int w, int h);
  void DrawLine(int x0, int y0, int x1, int y1);

  // Draws single-byte Windows-1251 text with the built-in 5 x 7 font in cells of 6 x 8 pixels
  // (times scale); lower-case letters are drawn as capitals. Returns the x after the last cell.
  int DrawText(int x, int y, std::string_view text, int scale = 1);
  static int TextWidth(std::string_view text, int scale = 1) {
    return int(text.size()) * 6 * scale;
  }

  const std::array<std::uint8_t, kScreenBytes>& Bytes() const { return bytes_; }
  // The 8 encoded bytes of one column (0..127).
  const std::uint8_t* Column(int c) const { return bytes_.data() + kColumnBytes * c; }

  bool operator==(const ScreenBitmap&) const = default;

 private:
  std::array<std::uint8_t, kScreenBytes> bytes_{};
};

}  // namespace kd735::sim
