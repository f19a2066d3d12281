#include "panel/screen_message_sender.h"

#include "panel/screen_message.h"

namespace kd735 {

bool SendScreenMessage(LinkController& link, int seconds, const QString& text) {
  std::uint32_t bytes = 0;
  const bool ok = link.TransferCommandPacket(BuildScreenMessagePacket(seconds, text), bytes);
  link.LogEvent(ScreenMessageLogLine(text, ok, bytes));
  return ok;
}

}  // namespace kd735
