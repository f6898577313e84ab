#include "host/input/script_gesture_backend.hpp"

#include <cstdint>
#include <string_view>

#include "host/input/virtual_key.hpp"

namespace glidemate::host {
namespace {

struct ScriptedShortcut {
  std::uint16_t keyCode;
  std::string_view modifier;  // empty: no held modifier
};

ScriptedShortcut shortcut(SystemGesture gesture) {
  switch (gesture) {
    case SystemGesture::missionControl: return {VirtualKey::upArrow, "control down"};
    case SystemGesture::appExpose: return {VirtualKey::downArrow, "control down"};
    case SystemGesture::spaceLeft: return {VirtualKey::leftArrow, "control down"};
    case SystemGesture::spaceRight: return {VirtualKey::rightArrow, "control down"};
    case SystemGesture::escape: return {VirtualKey::escape, ""};
    case SystemGesture::back: return {VirtualKey::leftBracket, "command down"};
    case SystemGesture::forward: return {VirtualKey::rightBracket, "command down"};
    case SystemGesture::spotlight: return {VirtualKey::space, "command down"};
  }
  return {VirtualKey::escape, ""};
}

}  // namespace

std::string ScriptGestureBackend::script(SystemGesture gesture) {
  const auto s = shortcut(gesture);
  std::string text = "tell application \"System Events\" to key code " + std::to_string(s.keyCode);
  if (!s.modifier.empty()) text += " using {" + std::string(s.modifier) + "}";
  return text;
}

void ScriptGestureBackend::perform(SystemGesture gesture) {
  try {
    runner_.run(script(gesture), "System Events");
  } catch (const AppleScriptRunner::Failure&) {
    // A missing automation permission or a busy System Events: the gesture
    // simply does not happen.
  }
}

}  // namespace glidemate::host
