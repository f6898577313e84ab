#pragma once

#include <string>

#include "host/services/power/display_sleeper.hpp"

namespace glidemate::host {

// Turns an X display off: DPMS "off" where the server has DPMS and it is
// enabled, otherwise the server's screen saver is switched on (servers
// without DPMS, such as virtual ones, and users who disabled it). Each
// request opens its own short connection: it is one request, sent and
// flushed, with nothing to wait for.
class X11DisplaySleeper final : public DisplaySleeper {
 public:
  // Empty: the DISPLAY environment variable.
  explicit X11DisplaySleeper(std::string displayName = {}) : displayName_(std::move(displayName)) {}

  // Throws std::runtime_error when the display can't be opened.
  void sleepDisplay() override;

 private:
  std::string displayName_;
};

}  // namespace glidemate::host
