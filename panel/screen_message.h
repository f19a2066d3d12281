#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>

#include "link/transfer_record.h"

namespace kd735 {

// The message window that sends a short text to the instrument's own screen.
inline constexpr int kScreenMessageMaxChars = 16;
inline constexpr int kScreenMessageMinSeconds = 1;
inline constexpr int kScreenMessageMaxSeconds = 20;
inline constexpr int kScreenMessageDefaultSeconds = 4;
inline constexpr QStringView kScreenMessageDefaultText = u"Привет !!!";
inline constexpr QStringView kScreenMessageCaption = u"Вывод окна сообщения на экран КД734";
inline constexpr QStringView kScreenMessageTimeLabel = u"Время (с) = ";
inline constexpr QStringView kScreenMessageSendText = u"Послать";
inline constexpr QStringView kScreenMessageSendHint = u"Послать сообщение";

// Display time units: the instrument counts the time in steps of 20 ms.
inline constexpr int kScreenMessageTicksPerSecond = 50;
inline constexpr int kScreenMessageTextOffset = 6;

// The text as the instrument receives it: its first 16 characters, each one that has no
// Windows-1251 code replaced by '?'.
QString ScreenMessageText(const QString& text);

// The 64 data bytes of the message command: word 0x0055, the time in 20 ms steps (big-endian),
// a zero word, then one big-endian word per character from byte 6 on (high byte 0, low byte the
// Windows-1251 code), zeros after the text. The time is held to 1..20 s and the text to
// ScreenMessageText(text).
Packet BuildScreenMessagePacket(int seconds, const QString& text);

// The log line of a sent message: "Сообщение = <text>  OK <bytes>" or "Сообщение = <text>  Bad".
QString ScreenMessageLogLine(const QString& text, bool ok, std::uint32_t bytes = 0);

}  // namespace kd735
