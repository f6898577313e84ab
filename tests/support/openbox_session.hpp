// Test helper: a window manager (openbox) on a test's X server, so that
// stacking, focus and window states are decided as on a desktop. Stopped
// when its owner goes away.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.hpp"

namespace glidemate::testing {

class OpenboxSession {
 public:
  // Blocks until openbox manages the display; throws if it can't start.
  explicit OpenboxSession(const std::string& displayName);

 private:
  std::unique_ptr<ChildProcess> openbox_;
};

}  // namespace glidemate::testing
