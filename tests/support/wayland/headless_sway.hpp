// Test helper: sway without a screen, with one 1440 x 900 output and no key
// bindings, run as the unprivileged user `nobody` (sway refuses root) with
// its own runtime folder, which this process, as root, reaches too.
// Everything stops when the owner goes away.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::testing {

class HeadlessSway {
 public:
  static constexpr int width = 1440;
  static constexpr int height = 900;

  // Blocks until sway takes connections; throws if it does not start.
  HeadlessSway();
  ~HeadlessSway();
  HeadlessSway(const HeadlessSway&) = delete;
  HeadlessSway& operator=(const HeadlessSway&) = delete;

  // What a Wayland client needs to reach this desktop: XDG_RUNTIME_DIR,
  // WAYLAND_DISPLAY, XDG_SESSION_TYPE.
  std::vector<std::string> environment() const;
  // Puts environment() into this process's own environment.
  void adoptEnvironment() const;
  const std::string& waylandDisplay() const { return display_; }

  // Kills sway as a crash would, and starts it again, waiting until it
  // takes connections on the same socket name.
  void stopSway();
  void startSway();
  // Stops sway where it is (SIGSTOP), so that it reads nothing, or lets it
  // go on.
  void freeze(bool frozen);
  // Runs one sway command (`fullscreen enable`, ...) through its control
  // socket; throws if sway refuses it.
  void command(const std::string& text) const;

 private:
  TempDir runtime_;
  std::string display_;
  std::unique_ptr<ChildProcess> sway_;
};

// The test Wayland window on `sway`, printing what it receives; write
// "sync" to it and it answers "synced" once sway has drawn a frame since.
// `options` are the window's own (--app-id, --title, --windowed).
std::unique_ptr<ChildProcess> startWaylandTestClient(const HeadlessSway& sway, std::vector<std::string> options = {});

}  // namespace glidemate::testing
