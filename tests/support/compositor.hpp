// Test helper: a compositing manager (xcompmgr) on a test's X server, which
// blends windows that have an alpha channel with what is below them; stopped
// when its owner goes away.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.hpp"

namespace glidemate::host::testing {

class Compositor {
 public:
  // Returns once it has claimed the screen's compositing-manager selection.
  // Throws std::runtime_error when it does not start.
  explicit Compositor(const std::string& displayName);

 private:
  std::unique_ptr<glidemate::testing::ChildProcess> process_;
};

}  // namespace glidemate::host::testing
