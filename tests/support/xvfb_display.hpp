// Test helper: a private X server (Xvfb) on a display number it picks
// itself, stopped when its owner goes away.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.hpp"

namespace glidemate::host::testing {

class XvfbDisplay {
 public:
  // The screen's size unless another is asked for.
  static constexpr int width = 1280;
  static constexpr int height = 800;

  // Blocks until the server accepts connections; throws if it can't start.
  explicit XvfbDisplay(int screenWidth = width, int screenHeight = height);
  const std::string& name() const { return name_; }
  int processId() const { return server_ ? server_->pid() : -1; }
  // Ends the server at once, as a crash would; the display is gone after.
  void kill();

 private:
  std::unique_ptr<glidemate::testing::ChildProcess> server_;
  std::string name_;
};

}  // namespace glidemate::host::testing
