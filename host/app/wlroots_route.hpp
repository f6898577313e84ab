#pragma once

#include <string>

#include "host/input/event_poster.hpp"

namespace glidemate::host {

// Input going to a wlroots compositor, as the desktop services that follow
// it need to know.
struct WlrootsRoute {
  // Its socket as WAYLAND_DISPLAY names it; empty: the environment's.
  std::string display;
  // Posts through its virtual pointer and keyboard; the laser dot follows
  // the pointer through it.
  EventPoster* poster = nullptr;
};

}  // namespace glidemate::host
