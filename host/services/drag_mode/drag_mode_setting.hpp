#pragma once

namespace glidemate::host {

// Where the computer keeps its three-finger-drag setting.
class DragModeSetting {
 public:
  virtual ~DragModeSetting() = default;
  // Whether three-finger drag is on now; a setting that is missing or can't
  // be read is off.
  virtual bool isThreeFingerDragOn() = 0;
};

}  // namespace glidemate::host
