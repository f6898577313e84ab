#pragma once

#include <optional>

namespace glidemate {

// The velocity a scroll gesture had when the fingers lifted, decaying
// exponentially so that the content coasts to a stop as on a trackpad.
struct ScrollMomentum {
  struct Displacement {
    double deltaX;
    double deltaY;
    bool operator==(const Displacement&) const = default;
  };

  double decayRate = 0.998;     // fraction of velocity kept per millisecond
  double minimumSpeed = 24.0;   // points per second below which coasting stops
  double maximumSpeed = 6000.0; // points per second to which a release is capped
  double velocityX = 0;         // points per second
  double velocityY = 0;

  // Takes the release velocity, capped to `maximumSpeed`. A non-finite
  // velocity has no direction to coast in and stops instead.
  void start(double velocityX, double velocityY);
  void stop();

  double speed() const;
  bool isActive() const { return speed() >= minimumSpeed; }

  // The displacement over the next `duration` seconds (the exact integral of
  // the decaying velocity), or nothing once coasting is over.
  std::optional<Displacement> step(double duration);

  // How far the content will still travel if left alone.
  double remainingDistance() const;

  bool operator==(const ScrollMomentum&) const = default;
};

}  // namespace glidemate
