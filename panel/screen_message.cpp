#include "panel/screen_message.h"

#include <QByteArray>
#include <QStringEncoder>
#include <algorithm>

#include "link/command_protocol.h"

namespace kd735 {
namespace {

// Windows-1251 codes of the text's first 16 characters. A character is a code point, so a
// surrogate pair counts once; one without a code becomes '?' (the encoder itself would put in
// its own substitute, 0x1A).
QByteArray EncodeMessageText(const QString& text) {
  QByteArray codes;
  for (qsizetype i = 0; i < text.size() && codes.size() < kScreenMessageMaxChars;) {
    const qsizetype length =
        (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
    const QByteArray code = encoder.encode(QStringView(text).sliced(i, length));
    codes.append(!encoder.hasError() && code.size() == 1 ? code[0] : '?');
    i += length;
  }
  return codes;
}

}  // namespace

QString ScreenMessageText(const QString& text) {
  QStringDecoder decoder("windows-1251");
  return decoder.decode(EncodeMessageText(text));
}

Packet BuildScreenMessagePacket(int seconds, const QString& text) {
  const int ticks = std::clamp(seconds, kScreenMessageMinSeconds, kScreenMessageMaxSeconds) *
                    kScreenMessageTicksPerSecond;
  Packet packet = BuildCommandPacket(command::kScreenMessage, std::uint16_t(ticks));
  const QByteArray codes = EncodeMessageText(text);
  // One 16-bit word per character, its high byte zero.
  auto word = packet.begin() + kScreenMessageTextOffset;
  for (const char code : codes) {
    word[1] = std::uint8_t(code);
    word += 2;
  }
  return packet;
}

QString ScreenMessageLogLine(const QString& text, bool ok, std::uint32_t bytes) {
  return QStringLiteral("Сообщение = ") + text +
         (ok ? QStringLiteral("  OK ") + QString::number(bytes) : QStringLiteral("  Bad"));
}

}  // namespace kd735
