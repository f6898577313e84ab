// Test helper: the openbox window manager on a test's X server, with its
// settings and cache in a temporary folder, stopped when its owner goes away.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/child_process.hpp"

namespace glidemate::host::testing {

class Openbox {
 public:
  // Returns once openbox handles requests from clients (naming its check
  // window on the root comes earlier than that). Throws std::runtime_error
  // when it does not start.
  explicit Openbox(const std::string& displayName);
  ~Openbox();
  Openbox(const Openbox&) = delete;
  Openbox& operator=(const Openbox&) = delete;

  // Ends openbox at once, as a crash would: what it set on the root window
  // stays behind.
  void crash();

 private:
  std::filesystem::path dir_;
  std::unique_ptr<glidemate::testing::ChildProcess> process_;
};

}  // namespace glidemate::host::testing
