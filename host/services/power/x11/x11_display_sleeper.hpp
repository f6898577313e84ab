#pragma once

#include <memory>

#include "host/services/power/display_sleeper.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// Turns an X display off: DPMS "off" where the server has DPMS and it is
// enabled, otherwise the server's screen saver is switched on (servers
// without DPMS, such as virtual ones, and users who disabled it). One
// request, sent at once, with nothing to wait for.
class X11DisplaySleeper final : public DisplaySleeper {
 public:
  explicit X11DisplaySleeper(std::shared_ptr<X11DesktopConnection> connection)
      : connection_(std::move(connection)) {}

  void sleepDisplay() override;

 private:
  std::shared_ptr<X11DesktopConnection> connection_;
};

}  // namespace glidemate::host
