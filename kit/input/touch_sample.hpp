#pragma once

#include <cstdint>

#include "kit/input/point.hpp"

namespace glidemate {

enum class TouchPhase : std::uint8_t { began, moved, ended, cancelled };

// One report of one finger from the touch surface.
struct TouchSample {
  std::int64_t id = 0;  // stays the same for a finger while it touches
  TouchPhase phase = TouchPhase::began;
  Point location;
  double time = 0;  // seconds, from any monotonic origin

  bool operator==(const TouchSample&) const = default;
};

}  // namespace glidemate
