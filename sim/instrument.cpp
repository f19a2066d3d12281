#include "sim/instrument.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <string_view>

namespace kd735::sim {
namespace {

constexpr std::uint16_t kConnect = 0xAAAA;
constexpr std::uint16_t kKey = 0x80EE;
constexpr std::uint16_t kRestart = 0x80AA;
constexpr std::uint16_t kLockKeys = 0x8011;
constexpr std::uint16_t kUnlockKeys = 0x8022;
constexpr std::uint16_t kPrepare = 0x0BBB;
constexpr std::uint16_t kListFiles = 0x0E00;
constexpr std::uint16_t kReadFile = 0x0E15;
constexpr std::uint16_t kScreenMessage = 0x0055;
constexpr std::uint16_t kFilePacketWord = 0x3317;
constexpr std::uint16_t kWrongEcho = 0x0E01;
constexpr std::uint8_t kFillerMarker = 0x55;
constexpr int kPacketsPerFile = kRecordSize / 32;
constexpr int kMessageTickMs = 20;
constexpr int kMaxMessageChars = 29;  // what fits after the 6 header bytes

constexpr int kMenuItems = 4;
constexpr int kMinThickness = 10;     // 0.10 mm
constexpr int kMaxThickness = 99999;  // 999.99 mm

// Converts UTF-8 text to Windows-1251: ASCII, the Russian letters and Ё/ё; anything else is '?'.
std::string Cp1251(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(char(c));
      ++i;
      continue;
    }
    unsigned cp = 0;
    std::size_t len = 0;
    if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else {
      cp = c & 0x07;
      len = 4;
    }
    for (std::size_t k = 1; k < len && i + k < utf8.size(); ++k)
      cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += len;
    if (cp >= 0x410 && cp <= 0x44F)
      out.push_back(char(0xC0 + (cp - 0x410)));
    else if (cp == 0x401)
      out.push_back(char(0xA8));
    else if (cp == 0x451)
      out.push_back(char(0xB8));
    else
      out.push_back('?');
  }
  return out;
}

void PutBe32(FileRecord& r, std::size_t offset, std::uint32_t v) {
  r[offset] = std::uint8_t(v >> 24);
  r[offset + 1] = std::uint8_t(v >> 16);
  r[offset + 2] = std::uint8_t(v >> 8);
  r[offset + 3] = std::uint8_t(v);
}

void PutText(FileRecord& r, int offset, int width, const std::string& text) {
  std::fill_n(r.begin() + offset, width, std::uint8_t{0});
  std::copy_n(text.begin(), std::min<int>(width, int(text.size())), r.begin() + offset);
}

std::string ThicknessText(int hundredths) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%d.%02d", hundredths / 100, std::abs(hundredths % 100));
  return buf;
}

std::string FrequencyText(int code) {
  static const char* const kTexts[] = {"10.0", "8.0", "5.0", "4.0", "2.5", "2.0", "1.8", "1.25"};
  return code >= 0 && code < 8 ? kTexts[code] : "?";
}

void DrawCentered(ScreenBitmap& s, int y, const std::string& text, int scale = 1) {
  s.DrawText((kScreenWidth - ScreenBitmap::TextWidth(text, scale)) / 2 + scale / 2, y, text, scale);
}

void DrawTitle(ScreenBitmap& s, const std::string& title) {
  DrawCentered(s, 0, title);
  s.DrawLine(0, 9, kScreenWidth - 1, 9);
}

// The measurement page for a thickness and a probe frequency.
void DrawMeasurePage(ScreenBitmap& s, int thickness, int frequency, std::uint32_t velocity) {
  s.DrawText(1, 0, Cp1251("КД735"));
  s.DrawLine(0, 9, kScreenWidth - 1, 9);
  s.DrawText(1, 12, Cp1251("ТОЛЩИНА H, мм"));
  DrawCentered(s, 23, ThicknessText(thickness), 2);
  char line[32];
  std::snprintf(line, sizeof line, "F=%s CL=%u", FrequencyText(frequency).c_str(),
                unsigned(velocity / 100));
  s.DrawText(1, 42, line);
  s.DrawLine(0, 52, kScreenWidth - 1, 52);
  s.DrawText(1, 55, Cp1251("ENTER-МЕНЮ"));
}

void DrawBscanGraph(ScreenBitmap& s, const std::vector<std::int32_t>& profile, std::int32_t lo,
                    std::int32_t hi, std::uint32_t length) {
  DrawTitle(s, Cp1251("В-СКАН"));
  const int top = 12, bottom = 52, left = 8;
  s.DrawLine(left - 1, top, left - 1, bottom);
  s.DrawLine(left - 1, bottom, kScreenWidth - 1, bottom);
  const int span = std::max(1, hi - lo);
  int prevX = -1, prevY = 0;
  for (std::size_t i = 0; i < profile.size() && left + int(i) < kScreenWidth; ++i) {
    const int v = std::clamp(profile[i], lo, hi);
    const int y = bottom - 1 - (v - lo) * (bottom - top - 1) / span;
    const int x = left + int(i);
    if (prevX >= 0) s.DrawLine(prevX, prevY, x, y);
    prevX = x;
    prevY = y;
  }
  char line[32];
  std::snprintf(line, sizeof line, "L=%u", unsigned(length));
  s.DrawText(1, 55, line + Cp1251(" мм"));
}

}  // namespace

std::string DefaultProbeType() { return Cp1251("П112-5-10/2"); }

FileRecord MakeMeasureRecord(const MeasureFileSpec& fields) {
  FileRecord r{};
  // Beyond the interpreted part the instrument's memory reads as erased flash.
  std::fill(r.begin() + 2133, r.end(), std::uint8_t{0xFF});
  r[0] = kMeasureKind;
  r[1] = fields.number;
  PutText(r, 2, 9, fields.name);
  PutText(r, 11, 17, fields.dateTime);
  PutText(r, 28, 11, fields.deviceNumber);
  PutText(r, 39, 17, fields.probeType.empty() ? DefaultProbeType() : fields.probeType);
  PutText(r, 56, 11, fields.probeNumber);
  PutBe32(r, 67, fields.frequencyCode);
  PutBe32(r, 79, fields.sweepDelay);
  PutBe32(r, 83, fields.sweepWidth);
  PutBe32(r, 145, fields.velocityCL);
  PutBe32(r, 149, fields.probeDelayTpep);
  PutBe32(r, 157, fields.state);
  PutBe32(r, 161, std::uint32_t(fields.thickness));
  ScreenBitmap picture;
  DrawMeasurePage(picture, fields.thickness, int(fields.frequencyCode), fields.velocityCL);
  std::copy(picture.Bytes().begin(), picture.Bytes().end(), r.begin() + 1109);
  return r;
}

FileRecord MakeBscanRecord(const BscanFileSpec& fields) {
  FileRecord r = MakeMeasureRecord(fields.common);
  r[0] = kBscanKind;
  // The measurement fields mean nothing in a B-scan file; the instrument leaves them zero.
  PutBe32(r, 157, 0);
  PutBe32(r, 161, 0);
  PutBe32(r, 165, fields.length);
  PutBe32(r, 169, fields.speed);
  PutBe32(r, 173, std::uint32_t(fields.thicknessMin));
  PutBe32(r, 177, std::uint32_t(fields.thicknessMax));
  ScreenBitmap picture;
  DrawBscanGraph(picture, fields.profile, fields.thicknessMin, fields.thicknessMax, fields.length);
  std::copy(picture.Bytes().begin(), picture.Bytes().end(), r.begin() + 1109);
  return r;
}

Instrument::Instrument(std::uint32_t seed, std::string deviceNumber)
    : seed_(seed), deviceNumber_(std::move(deviceNumber)) {
  // Raw engine output only: the standard distributions differ between library versions.
  std::mt19937 rng(seed);
  const auto pick = [&rng](int lo, int hi) { return lo + int(rng() % std::uint32_t(hi - lo + 1)); };
  ResetUi();
  restarts_ = 0;

  const int day = pick(1, 28), month = pick(1, 12);
  for (int i = 0; i < 3; ++i) {
    MeasureFileSpec m;
    m.number = std::uint8_t(i + 1);
    char text[32];
    std::snprintf(text, sizeof text, "TEST%04d", i + 1);
    m.name = text;
    std::snprintf(text, sizeof text, "%02d.%02d.2026 %02d:%02d", day, month, 9 + i, pick(0, 59));
    m.dateTime = text;
    m.deviceNumber = deviceNumber_;
    m.frequencyCode = std::uint32_t(pick(1, 4));
    m.sweepDelay = std::uint32_t(pick(0, 5));
    m.sweepWidth = std::uint32_t(pick(10, 40));
    m.velocityCL = std::uint32_t(pick(590000, 596000));
    m.probeDelayTpep = std::uint32_t(pick(3000, 9000));
    m.state = i == 2 ? 1 : 2;
    m.thickness = pick(300, 3000);
    measureFiles_.push_back(MakeMeasureRecord(m));
  }
  for (int i = 0; i < 2; ++i) {
    BscanFileSpec b;
    b.common.number = std::uint8_t(i + 1);
    char text[32];
    std::snprintf(text, sizeof text, "BSCN%04d", i + 1);
    b.common.name = text;
    std::snprintf(text, sizeof text, "%02d.%02d.2026 %02d:%02d", day, month, 14 + i, pick(0, 59));
    b.common.dateTime = text;
    b.common.deviceNumber = deviceNumber_;
    b.common.velocityCL = std::uint32_t(pick(590000, 596000));
    b.length = std::uint32_t(pick(100, 500));
    b.speed = std::uint32_t(pick(0, 2));
    b.thicknessMin = 100;
    b.thicknessMax = 2500;
    int v = pick(800, 1800);
    for (int k = 0; k < 120; ++k) {
      v = std::clamp(v + pick(-40, 40), 200, 2400);
      b.profile.push_back(v);
    }
    bscanFiles_.push_back(MakeBscanRecord(b));
  }
}

void Instrument::ResetUi() {
  page_ = Page::kMeasure;
  menuIndex_ = 0;
  thickness_ = 500 + int(seed_ % 2000);
  frequency_ = 2;
  keysLocked_ = false;
  message_.clear();
  messageUntil_ = 0;
  ++restarts_;
}

std::vector<FileRecord>& Instrument::Files(std::uint8_t kind) {
  if (kind == kMeasureKind) return measureFiles_;
  if (kind == kBscanKind) return bscanFiles_;
  noFiles_.clear();
  return noFiles_;
}

void Instrument::AdvanceTime(std::int64_t ms) {
  if (ms > 0) now_ += ms;
}

void Instrument::SetTime(std::int64_t ms) { now_ = std::max(now_, ms); }

bool Instrument::HandleCommand(const Packet& command) {
  if (faults_.rejectCommands) return false;
  const auto word = [&command](std::size_t n) {
    return std::uint16_t(command[2 * n] << 8 | command[2 * n + 1]);
  };
  const std::uint16_t code = word(0);
  const std::uint16_t data = word(1);
  switch (code) {
    case kConnect:
      connected_ = true;
      break;
    case kKey:
      PressKey(data);
      break;
    case kRestart:
      ResetUi();
      break;
    case kLockKeys:
      keysLocked_ = true;
      break;
    case kUnlockKeys:
      keysLocked_ = false;
      break;
    case kPrepare:
      // Prepares a file exchange: whatever an earlier exchange left unread is dropped.
      replies_.clear();
      break;
    case kListFiles: {
      listedKind_ = std::uint8_t(data);
      if (faults_.noAnswer) break;
      std::uint16_t echo = kListFiles;
      if (faults_.wrongListingEchoes > 0) {
        --faults_.wrongListingEchoes;
        echo = kWrongEcho;
      }
      const auto count = std::uint16_t(faults_.listedCount >= 0 ? std::size_t(faults_.listedCount)
                                                                : Files(listedKind_).size());
      Packet reply{};
      reply[0] = std::uint8_t(echo >> 8);
      reply[1] = std::uint8_t(echo);
      reply[2] = 0;
      reply[3] = listedKind_;
      reply[4] = std::uint8_t(count >> 8);
      reply[5] = std::uint8_t(count);
      replies_.push_back(reply);
      break;
    }
    case kReadFile:
      if (!faults_.noAnswer) QueueFile(data);
      break;
    case kScreenMessage: {
      message_.clear();
      for (std::size_t k = 0; k < kMaxMessageChars; ++k) {
        const int hi = command[6 + 2 * k], lo = command[7 + 2 * k];
        if (hi == 0 && lo == 0) break;
        message_.push_back(hi == 0 ? char(lo) : '?');
      }
      messageUntil_ = now_ + std::int64_t(data) * kMessageTickMs;
      break;
    }
    default:
      break;  // unknown commands are taken and ignored
  }
  return true;
}

bool Instrument::TakeReply(Packet& reply) {
  if (replies_.empty()) return false;
  reply = replies_.front();
  replies_.pop_front();
  return true;
}

void Instrument::QueueFile(std::uint16_t index) {
  const std::vector<FileRecord>& files = Files(listedKind_);
  if (index >= files.size()) return;  // no such file: the instrument stays silent
  const FileRecord& record = files[index];
  const auto make = [](std::uint8_t kind, std::uint16_t idx, int number) {
    Packet p{};
    p[0] = std::uint8_t(kFilePacketWord >> 8);
    p[1] = std::uint8_t(kFilePacketWord);
    p[3] = kind;
    p[4] = std::uint8_t(idx >> 8);
    p[5] = std::uint8_t(idx);
    p[6] = std::uint8_t(number >> 8);
    p[7] = std::uint8_t(number);
    return p;
  };
  const auto listed = [](const std::vector<int>& v, int n) {
    return std::find(v.begin(), v.end(), n) != v.end();
  };
  const std::uint8_t otherKind = listedKind_ == kMeasureKind ? kBscanKind : kMeasureKind;
  for (int n = 0; n < kPacketsPerFile; ++n) {
    if (listed(faults_.foreignBefore, n)) {
      for (Packet p : {make(listedKind_, std::uint16_t(index + 1), n), make(otherKind, index, n)}) {
        std::fill(p.begin() + 16, p.begin() + 48, std::uint8_t{0xEE});
        replies_.push_back(p);
      }
    }
    if (listed(faults_.oversizedBefore, n)) {
      Packet p = make(listedKind_, index, kPacketsPerFile + n);
      std::fill(p.begin() + 16, p.begin() + 48, std::uint8_t{0xEE});
      replies_.push_back(p);
    }
    if (listed(faults_.missingPackets, n)) continue;
    Packet p = make(listedKind_, index, n);
    std::copy_n(record.begin() + 32 * n, 32, p.begin() + 16);
    replies_.push_back(p);
  }
}

void Instrument::PressKey(std::uint16_t keyBits) {
  // Several bits in one command are taken in the order of the bits.
  for (std::uint16_t bit = 1; bit <= 0x20; bit = std::uint16_t(bit << 1)) {
    if (!(keyBits & bit)) continue;
    const bool escape = bit == 0x01, enter = bit == 0x02, up = bit == 0x04, down = bit == 0x08,
               left = bit == 0x10, right = bit == 0x20;
    switch (page_) {
      case Page::kMeasure:
        if (enter) page_ = Page::kMenu;
        if (up) thickness_ = std::min(kMaxThickness, thickness_ + 10);
        if (down) thickness_ = std::max(kMinThickness, thickness_ - 10);
        if (left) frequency_ = std::max(0, frequency_ - 1);
        if (right) frequency_ = std::min(7, frequency_ + 1);
        break;
      case Page::kMenu:
        if (escape) page_ = Page::kMeasure;
        if (up) menuIndex_ = (menuIndex_ + kMenuItems - 1) % kMenuItems;
        if (down) menuIndex_ = (menuIndex_ + 1) % kMenuItems;
        if (enter) {
          static constexpr Page kTargets[kMenuItems] = {Page::kMeasure, Page::kFiles, Page::kSetup,
                                                        Page::kBscan};
          page_ = kTargets[menuIndex_];
        }
        break;
      default:
        if (escape || enter) page_ = Page::kMenu;
        break;
    }
  }
}

ScreenBitmap Instrument::Screen() const {
  ScreenBitmap s;
  switch (page_) {
    case Page::kMeasure:
      DrawMeasurePage(s, thickness_, frequency_, 592000);
      break;
    case Page::kMenu: {
      DrawTitle(s, Cp1251("МЕНЮ"));
      static const char* const kItems[kMenuItems] = {"ИЗМЕРЕНИЕ", "ФАЙЛЫ", "НАСТРОЙКА", "В-СКАН"};
      for (int i = 0; i < kMenuItems; ++i) {
        const int y = 13 + 12 * i;
        s.DrawText(8, y, Cp1251(kItems[i]));
        if (i == menuIndex_) s.InvertRect(0, y - 2, kScreenWidth, 11);
      }
      break;
    }
    case Page::kFiles: {
      DrawTitle(s, Cp1251("ФАЙЛЫ"));
      char line[32];
      std::snprintf(line, sizeof line, ": %zu", measureFiles_.size());
      s.DrawText(1, 14, Cp1251("ИЗМЕРЕНИЙ") + line);
      std::snprintf(line, sizeof line, ": %zu", bscanFiles_.size());
      s.DrawText(1, 26, Cp1251("В-СКАНОВ") + line);
      s.DrawText(1, 55, Cp1251("ESC-НАЗАД"));
      break;
    }
    case Page::kSetup:
      DrawTitle(s, Cp1251("НАСТРОЙКА"));
      s.DrawText(1, 14, Cp1251("CL=5920.00 М/С"));
      s.DrawText(1, 26, Cp1251("TPEP=0.5120 МКС"));
      s.DrawText(1, 55, Cp1251("ESC-НАЗАД"));
      break;
    case Page::kBscan:
      DrawTitle(s, Cp1251("В-СКАН"));
      s.DrawText(1, 14, Cp1251("ГОТОВ К ЗАПИСИ"));
      s.DrawText(1, 55, Cp1251("ESC-НАЗАД"));
      break;
  }
  if (connected_ && page_ == Page::kMeasure) s.DrawText(kScreenWidth - 6 * 3 - 40, 0, "USB");
  if (keysLocked_) {
    const std::string lock = Cp1251("ЗАМОК");
    const int x = kScreenWidth - ScreenBitmap::TextWidth(lock);
    s.FillRect(x - 1, 0, kScreenWidth - x + 1, 8, false);
    s.DrawText(x, 0, lock);
    s.InvertRect(x - 1, 0, kScreenWidth - x + 1, 8);
  }
  if (MessageShown()) {
    const int w = std::max(60, ScreenBitmap::TextWidth(message_) + 10);
    const int x = (kScreenWidth - w) / 2, y = 20, h = 22;
    s.FillRect(x, y, w, h, false);
    s.DrawFrame(x, y, w, h);
    s.DrawFrame(x + 2, y + 2, w - 4, h - 4);
    s.DrawText(x + (w - ScreenBitmap::TextWidth(message_)) / 2 + 1, y + 8, message_);
  }
  return s;
}

Packet Instrument::NextStreamPacket() {
  Packet p{};
  p[0] = streamCounter_++;
  if (fillerDue_) {
    fillerDue_ = false;
    p[2] = kFillerMarker;
    return p;
  }
  if (nextColumn_ == 0) passFrame_ = Screen();
  p[3] = std::uint8_t(nextColumn_);
  std::copy_n(passFrame_.Column(nextColumn_), 4 * kColumnBytes, p.begin() + 8);
  nextColumn_ += 4;
  if (nextColumn_ >= kScreenWidth) {
    nextColumn_ = 0;
    ++passes_;
    fillerDue_ = fillerEvery_ > 0 && passes_ % fillerEvery_ == 0;
  }
  return p;
}

}  // namespace kd735::sim
