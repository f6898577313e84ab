#pragma once

#include <X11/X.h>

#include <array>
#include <cstdint>
#include <optional>

#include "host/input/input_event.hpp"
#include "host/input/virtual_key.hpp"

namespace glidemate::host {

// The one table from the system's virtual key codes to X keysyms. The
// modifiers follow what a PC keyboard puts where a Mac has them, so that
// shortcuts keep working by habit: command -> Control, option -> Alt,
// control -> Super, shift -> Shift.
std::optional<KeySym> keysymForVirtualKey(std::uint16_t virtualKey);

// The media, brightness and keyboard-light keys as the XF86 keysyms that
// desktops bind to those actions.
std::optional<KeySym> keysymForAuxControlKey(std::int32_t keyType);

// The keysym that types one character: Latin-1 characters have their own
// keysyms, everything else the Unicode keysym range; line breaks and tabs
// are the Return and Tab keys. Nothing for other control characters.
std::optional<KeySym> keysymForCharacter(char32_t character);

// Each modifier flag and the virtual key that produces it.
struct ModifierKey {
  std::uint64_t flag;
  std::uint16_t virtualKey;
};
inline constexpr std::array<ModifierKey, 4> modifierKeys{{
    {EventFlags::maskCommand, VirtualKey::command},
    {EventFlags::maskShift, VirtualKey::shift},
    {EventFlags::maskAlternate, VirtualKey::option},
    {EventFlags::maskControl, VirtualKey::control},
}};

}  // namespace glidemate::host
