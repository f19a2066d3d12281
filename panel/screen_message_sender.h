#pragma once

#include <QString>

#include "link/link_controller.h"

namespace kd735 {

// Sends the message command over the link's command channel and logs "Сообщение = ..." with
// "  OK <bytes>" or "  Bad". The time is held to 1..20 s, the text to its first 16 characters.
// True when the transfer succeeded (the window ignores it; the tool reports it).
bool SendScreenMessage(LinkController& link, int seconds, const QString& text);

}  // namespace kd735
