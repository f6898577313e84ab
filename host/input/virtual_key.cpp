#include "host/input/virtual_key.hpp"

#include "host/input/input_event.hpp"

namespace glidemate::host {

std::optional<std::uint16_t> virtualKeyCode(KeyboardKey key) {
  switch (key) {
    case KeyboardKey::returnKey: return VirtualKey::returnKey;
    case KeyboardKey::deleteKey: return VirtualKey::deleteKey;
    case KeyboardKey::forwardDelete: return VirtualKey::forwardDelete;
    case KeyboardKey::tab: return VirtualKey::tab;
    case KeyboardKey::escape: return VirtualKey::escape;
    case KeyboardKey::arrowUp: return VirtualKey::upArrow;
    case KeyboardKey::arrowDown: return VirtualKey::downArrow;
    case KeyboardKey::arrowLeft: return VirtualKey::leftArrow;
    case KeyboardKey::arrowRight: return VirtualKey::rightArrow;
    case KeyboardKey::home: return VirtualKey::home;
    case KeyboardKey::end: return VirtualKey::end;
    case KeyboardKey::pageUp: return VirtualKey::pageUp;
    case KeyboardKey::pageDown: return VirtualKey::pageDown;
    default: return std::nullopt;
  }
}

std::optional<std::int32_t> auxControlKeyType(KeyboardKey key) {
  switch (key) {
    case KeyboardKey::playPause: return AuxControlKey::play;
    case KeyboardKey::nextTrack: return AuxControlKey::next;
    case KeyboardKey::previousTrack: return AuxControlKey::previous;
    case KeyboardKey::brightnessUp: return AuxControlKey::brightnessUp;
    case KeyboardKey::brightnessDown: return AuxControlKey::brightnessDown;
    case KeyboardKey::keyboardLightUp: return AuxControlKey::illuminationUp;
    case KeyboardKey::keyboardLightDown: return AuxControlKey::illuminationDown;
    default: return std::nullopt;
  }
}

std::uint64_t eventFlags(KeyModifiers modifiers) {
  std::uint64_t flags = 0;
  if (modifiers.contains(KeyModifiers::command())) flags |= EventFlags::maskCommand;
  if (modifiers.contains(KeyModifiers::option())) flags |= EventFlags::maskAlternate;
  if (modifiers.contains(KeyModifiers::control())) flags |= EventFlags::maskControl;
  if (modifiers.contains(KeyModifiers::shift())) flags |= EventFlags::maskShift;
  return flags;
}

}  // namespace glidemate::host
