#pragma once

#include "host/server/user_defaults.hpp"
#include "host/services/drag_mode/drag_mode_setting.hpp"

namespace glidemate::host {

// Three-finger drag is the host's own setting on Linux: desktops have no
// such gesture to mirror. It is the Boolean "threeFingerDrag" of the host's
// settings file, changed by the `three-finger-drag on|off` command.
class SettingsDragModeSetting final : public DragModeSetting {
 public:
  static constexpr const char* key = "threeFingerDrag";

  explicit SettingsDragModeSetting(UserDefaults& defaults) : defaults_(defaults) {}

  bool isThreeFingerDragOn() override { return defaults_.boolean(key).value_or(false); }

 private:
  UserDefaults& defaults_;
};

}  // namespace glidemate::host
