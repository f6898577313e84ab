#include "host/input/desktop_shortcut_gesture_backend.hpp"

#include "host/input/key_chord.hpp"
#include "host/input/virtual_key.hpp"

namespace glidemate::host {

DesktopShortcutGestureBackend::DesktopShortcutGestureBackend(EventPoster& poster)
    : poster_(poster), source_(poster.createSource(EventSourceStateId::hidSystemState)) {}

DesktopShortcutGestureBackend::Shortcut DesktopShortcutGestureBackend::shortcut(SystemGesture gesture) {
  constexpr std::uint64_t ctrlAlt = EventFlags::maskCommand | EventFlags::maskAlternate;
  switch (gesture) {
    case SystemGesture::missionControl:
    case SystemGesture::appExpose:
    case SystemGesture::spotlight: return {VirtualKey::control, 0};  // Super, tapped alone
    case SystemGesture::spaceLeft: return {VirtualKey::leftArrow, ctrlAlt};
    case SystemGesture::spaceRight: return {VirtualKey::rightArrow, ctrlAlt};
    case SystemGesture::back: return {VirtualKey::leftArrow, EventFlags::maskAlternate};
    case SystemGesture::forward: return {VirtualKey::rightArrow, EventFlags::maskAlternate};
    case SystemGesture::escape: return {VirtualKey::escape, 0};
  }
  return {VirtualKey::escape, 0};
}

void DesktopShortcutGestureBackend::perform(SystemGesture gesture) {
  const auto s = shortcut(gesture);
  postKeyChord(poster_, source_, s.keyCode, s.flags);
}

}  // namespace glidemate::host
