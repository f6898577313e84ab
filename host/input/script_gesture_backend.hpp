#pragma once

#include <string>

#include "host/input/gesture_backend.hpp"
#include "host/services/apple_script_runner.hpp"

namespace glidemate::host {

// Asks the scriptable System Events application to press the gesture's
// shortcut, the way the desktop's own gestures do.
class ScriptGestureBackend final : public GestureBackend {
 public:
  explicit ScriptGestureBackend(AppleScriptRunner& runner) : runner_(runner) {}

  void perform(SystemGesture gesture) override;

  // The script text for a gesture, for example
  // tell application "System Events" to key code 33 using {command down}
  static std::string script(SystemGesture gesture);

 private:
  AppleScriptRunner& runner_;
};

}  // namespace glidemate::host
