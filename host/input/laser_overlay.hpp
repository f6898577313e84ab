#pragma once

#include <memory>

#include "host/input/screen_geometry.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// A small window showing the laser dot, above every other window (full-screen
// slideshows included) and letting clicks through to what is below it.
// Closed when destroyed.
class LaserWindow {
 public:
  virtual ~LaserWindow() = default;
  virtual void setColor(LaserColor color) = 0;
  // Centres the window on `point`.
  virtual void moveTo(ScreenPoint point) = 0;
};

// Opens laser windows: the platform's part of the laser pointer. Main
// executor only.
class LaserOverlay {
 public:
  virtual ~LaserOverlay() = default;
  virtual std::unique_ptr<LaserWindow> open(LaserColor color, ScreenPoint centre) = 0;
};

}  // namespace glidemate::host
