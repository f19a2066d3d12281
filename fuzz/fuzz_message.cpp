// The message packet from arbitrary text. Input: byte 0 is the display time in seconds (as a
// signed byte), byte 1 says how the rest is text (bit 0: UTF-16, otherwise UTF-8).
#include <QStringDecoder>

#include "fuzz/fuzz_check.h"
#include "link/command_protocol.h"
#include "panel/screen_message.h"

using namespace kd735;
using kd735::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int seconds = static_cast<std::int8_t>(data[0]);
  const char* bytes = reinterpret_cast<const char*>(data + 2);
  const qsizetype length = qsizetype(size - 2);
  const QString text = data[1] & 1 ? QString(reinterpret_cast<const QChar*>(bytes), length / 2)
                                   : QString::fromUtf8(bytes, length);

  const Packet packet = BuildScreenMessagePacket(seconds, text);
  Require(ReplyWord(packet, 0) == command::kScreenMessage, "command word");
  const int ticks = ReplyWord(packet, 1);
  Require(ticks % kScreenMessageTicksPerSecond == 0 &&
              ticks >= kScreenMessageMinSeconds * kScreenMessageTicksPerSecond &&
              ticks <= kScreenMessageMaxSeconds * kScreenMessageTicksPerSecond,
          "display time within 1..20 s");
  Require(packet[4] == 0 && packet[5] == 0, "word 2 is zero");

  const QString sent = ScreenMessageText(text);
  Require(sent.size() <= kScreenMessageMaxChars, "at most 16 characters");
  QStringEncoder encoder("windows-1251");
  const QByteArray codes = encoder.encode(sent);
  Require(codes.size() == sent.size(), "one code per character");
  for (int k = 0; k < kScreenMessageMaxChars; ++k) {
    const std::size_t high = std::size_t(kScreenMessageTextOffset + 2 * k);
    Require(packet[high] == 0, "high bytes are zero");
    Require(packet[high + 1] == (k < codes.size() ? std::uint8_t(codes[k]) : 0), "character code");
  }
  for (std::size_t i = kScreenMessageTextOffset + 2 * kScreenMessageMaxChars; i < packet.size();
       ++i)
    Require(packet[i] == 0, "nothing after the text");
  ScreenMessageLogLine(sent, true, 64);
  return 0;
}
