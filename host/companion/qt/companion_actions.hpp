#pragma once

#include <functional>

#include "host/companion/host_action.hpp"

namespace glidemate::host {

// What the windows can do: ask the host for something, or open another
// window of the app.
struct CompanionActions {
  std::function<void(HostAction)> perform;
  std::function<void()> openSettings;
  std::function<void()> showWelcome;
  std::function<void()> quit;
};

}  // namespace glidemate::host
