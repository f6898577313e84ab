#pragma once

#include "host/companion/host_snapshot.hpp"

namespace glidemate::host {

// Which of the tray icon's four looks the host's state calls for, and what
// each says to assistive technology.
enum class MenuBarIconStyle { idle, pairing, paused, viewing };

MenuBarIconStyle menuBarIconStyle(const HostSnapshot& snapshot);
const char* accessibilityDescription(MenuBarIconStyle style);

}  // namespace glidemate::host
