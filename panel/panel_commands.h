#pragma once

#include <QStringView>
#include <array>
#include <cstdint>

#include "link/command_protocol.h"

namespace kd735 {

// The remote controls of the virtual panel.
enum class PanelControl { Escape, Enter, Up, Down, Left, Right, Restart, KeyLock };

struct PanelCommand {
  PanelControl control;
  const char* name;   // the control's name
  QStringView label;  // its text or hint; empty for the arrows
  std::uint16_t command;
  std::uint16_t data;
};

// The keyboard-lock button latches: down after a click locks the instrument's keyboard, up
// releases it. It starts up.
inline constexpr QStringView kKeyLockHint = u"Блокировка клавиатуры прибора";
constexpr std::uint16_t KeyLockCommand(bool downAfterClick) {
  return downAfterClick ? command::kLockKeys : command::kUnlockKeys;
}

// Every control sends exactly one command at the release of the click; the six keys share the
// key command and differ by a one-bit data word.
inline constexpr std::array<PanelCommand, 7> kPanelKeys{{
    {PanelControl::Escape, "EscapeSpeedButton", u"Отмена", command::kKey, key::kEscape},
    {PanelControl::Enter, "EnterSpeedButton", u"Ввод", command::kKey, key::kEnter},
    {PanelControl::Up, "UpSpeedButton", {}, command::kKey, key::kUp},
    {PanelControl::Down, "DownSpeedButton", {}, command::kKey, key::kDown},
    {PanelControl::Left, "LeftSpeedButton", {}, command::kKey, key::kLeft},
    {PanelControl::Right, "RightSpeedButton", {}, command::kKey, key::kRight},
    {PanelControl::Restart, "ReStartSpeedButton", u"Рестарт", command::kRestart, 0x0000},
}};

// The command a click on the control sends; keyLockDown is the lock button's state after the
// click and matters for that button only.
constexpr PanelCommand PanelCommandFor(PanelControl control, bool keyLockDown = false) {
  if (control == PanelControl::KeyLock)
    return {control, "UnLocButtomsSpeedButton", kKeyLockHint, KeyLockCommand(keyLockDown), 0};
  for (const PanelCommand& c : kPanelKeys)
    if (c.control == control) return c;
  return {};
}

}  // namespace kd735
