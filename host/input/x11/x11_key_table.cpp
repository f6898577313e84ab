#include "host/input/x11/x11_key_table.hpp"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace glidemate::host {

std::optional<KeySym> keysymForVirtualKey(std::uint16_t virtualKey) {
  switch (virtualKey) {
    case VirtualKey::ansiA: return XK_a;
    case VirtualKey::returnKey: return XK_Return;
    case VirtualKey::deleteKey: return XK_BackSpace;
    case VirtualKey::forwardDelete: return XK_Delete;
    case VirtualKey::tab: return XK_Tab;
    case VirtualKey::escape: return XK_Escape;
    case VirtualKey::upArrow: return XK_Up;
    case VirtualKey::downArrow: return XK_Down;
    case VirtualKey::leftArrow: return XK_Left;
    case VirtualKey::rightArrow: return XK_Right;
    case VirtualKey::home: return XK_Home;
    case VirtualKey::end: return XK_End;
    case VirtualKey::pageUp: return XK_Prior;
    case VirtualKey::pageDown: return XK_Next;
    case VirtualKey::space: return XK_space;
    case VirtualKey::f5: return XK_F5;
    case VirtualKey::leftBracket: return XK_bracketleft;
    case VirtualKey::rightBracket: return XK_bracketright;
    case VirtualKey::command: return XK_Control_L;
    case VirtualKey::option: return XK_Alt_L;
    case VirtualKey::control: return XK_Super_L;
    case VirtualKey::shift: return XK_Shift_L;
    default: return std::nullopt;
  }
}

std::optional<KeySym> keysymForAuxControlKey(std::int32_t keyType) {
  switch (keyType) {
    case AuxControlKey::play: return XF86XK_AudioPlay;
    case AuxControlKey::next: return XF86XK_AudioNext;
    case AuxControlKey::previous: return XF86XK_AudioPrev;
    case AuxControlKey::brightnessUp: return XF86XK_MonBrightnessUp;
    case AuxControlKey::brightnessDown: return XF86XK_MonBrightnessDown;
    case AuxControlKey::illuminationUp: return XF86XK_KbdBrightnessUp;
    case AuxControlKey::illuminationDown: return XF86XK_KbdBrightnessDown;
    default: return std::nullopt;
  }
}

std::optional<KeySym> keysymForCharacter(char32_t c) {
  if (c == U'\n' || c == U'\r') return XK_Return;
  if (c == U'\t') return XK_Tab;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return std::nullopt;
  if (c >= 0xD800 && c <= 0xDFFF) return std::nullopt;
  if (c > 0x10FFFF) return std::nullopt;
  if (c < 0x100) return c;
  return 0x01000000 | c;
}

}  // namespace glidemate::host
