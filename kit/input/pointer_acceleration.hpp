#pragma once

#include "kit/input/point.hpp"

namespace glidemate {

// The cursor gain curve: unaccelerated below minimumSpeed, rising linearly to
// maximumGain at maximumSpeed (speeds in points per second), all scaled by
// trackingSpeed.
struct PointerAcceleration {
  double trackingSpeed = 1.0;
  double minimumSpeed = 180.0;
  double maximumSpeed = 1600.0;
  double baseGain = 1.0;
  double maximumGain = 2.6;

  // `delta` is the movement gathered over `duration` seconds. A duration of
  // zero or less (no earlier flush to measure from) gives the base gain.
  Vector scale(Vector delta, double duration) const;

  bool operator==(const PointerAcceleration&) const = default;
};

}  // namespace glidemate
