// Test helper: a private PulseAudio daemon with one null sink, on a socket
// in a temporary folder (its own HOME and XDG_RUNTIME_DIR too), stopped
// when its owner goes away.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.hpp"

namespace glidemate::testing {

class PulseAudioDaemon {
 public:
  // Blocks until the daemon says it is ready; throws if it can't start.
  PulseAudioDaemon();
  ~PulseAudioDaemon();
  PulseAudioDaemon(const PulseAudioDaemon&) = delete;
  PulseAudioDaemon& operator=(const PulseAudioDaemon&) = delete;

  // "unix:/tmp/.../native", for libpulse's server option or PULSE_SERVER.
  const std::string& server() const { return server_; }
  // What a client program needs to reach this daemon and nothing else
  // ("PULSE_SERVER=...", a private HOME, ...).
  std::vector<std::string> environment() const;
  // Runs pactl against this daemon, as another program on the desktop
  // would; throws if it fails.
  std::string pactl(const std::vector<std::string>& arguments) const;
  // Stops the daemon as if it had crashed.
  void stop();
  // Starts it again on the same socket, as a restarted sound server.
  void start();

 private:
  std::filesystem::path folder_;
  std::string server_;
  std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace glidemate::testing
