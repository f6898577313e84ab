#pragma once

#include "kit/wire/input_enums.hpp"

namespace glidemate::host {

// Carries out a system gesture (overview, switching workspaces, back,
// forward, search, Escape). Failures are not reported: a gesture that does
// nothing is all the phone's user can notice.
class GestureBackend {
 public:
  virtual ~GestureBackend() = default;
  virtual void perform(SystemGesture gesture) = 0;
};

}  // namespace glidemate::host
