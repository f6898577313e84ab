// Test helper: a private X server (Xvfb) on a display number it picks
// itself, stopped when its owner goes away.
#pragma once

#include <memory>
#include <string>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host::testing {

class XvfbDisplay {
 public:
  static constexpr int width = 1280;
  static constexpr int height = 800;

  struct Options {
    // Keep the screen in a file, where the cursor shows as drawn (the
    // server's own image requests leave it out).
    bool screenFile = false;
  };

  // Blocks until the server accepts connections; throws if it can't start.
  XvfbDisplay() : XvfbDisplay(Options{}) {}
  explicit XvfbDisplay(const Options& options);
  const std::string& name() const { return name_; }
  // The screen's file (XWD format); empty without Options::screenFile.
  const std::string& screenFile() const { return screenFile_; }

 private:
  std::unique_ptr<glidemate::testing::TempDir> dir_;
  std::unique_ptr<glidemate::testing::ChildProcess> server_;
  std::string name_;
  std::string screenFile_;
};

}  // namespace glidemate::host::testing
