// Test helper: GNOME's compositor without a screen. A private session bus,
// PipeWire with WirePlumber, and `mutter --headless --wayland` with one
// 1440 x 900 virtual monitor, all in temporary folders; with a keyboard
// layout, a private system bus where a mock localed hands it to mutter.
// Everything stops when the owner goes away.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::testing {

class HeadlessMutter {
 public:
  static constexpr int width = 1440;
  static constexpr int height = 900;

  struct Options {
    std::string keyboardLayout;  // empty: mutter's default (us)
    bool pipewire = true;
  };

  // Blocks until mutter serves its remote desktop; throws if something
  // does not start.
  explicit HeadlessMutter(Options options);
  HeadlessMutter() : HeadlessMutter(Options{}) {}
  ~HeadlessMutter();
  HeadlessMutter(const HeadlessMutter&) = delete;
  HeadlessMutter& operator=(const HeadlessMutter&) = delete;

  const PrivateBus& sessionBus() const { return session_; }
  // What a Wayland client or a host needs to reach this desktop:
  // XDG_RUNTIME_DIR, WAYLAND_DISPLAY, XDG_SESSION_TYPE, the session bus.
  std::vector<std::string> environment() const;
  const std::filesystem::path& runtimeDir() const { return runtime_.path(); }
  // Puts environment() into this process's own environment, for the code
  // under test that reads it (PipeWire finds its daemon there).
  void adoptEnvironment() const;

  // Kills mutter, and starts it again, waiting until it serves.
  void stopMutter();
  void startMutter();

 private:
  std::vector<std::string> daemonEnvironment() const;

  TempDir runtime_;
  TempDir home_;
  PrivateBus session_;
  std::unique_ptr<PrivateBus> system_;
  std::unique_ptr<ChildProcess> pipewire_;
  std::unique_ptr<ChildProcess> wireplumber_;
  std::unique_ptr<ChildProcess> mutter_;
};

// The test Wayland window on `mutter`, printing what it receives; write
// "sync" to it and it answers "synced" once mutter has drawn a frame since.
std::unique_ptr<ChildProcess> startWaylandTestClient(const HeadlessMutter& mutter);

}  // namespace glidemate::testing
