#include "host/input/x11/wheel_notch_accumulator.hpp"

#include <cmath>
#include <stdexcept>

namespace glidemate::host {

WheelNotchAccumulator::WheelNotchAccumulator(double pointsPerNotch) : pointsPerNotch_(pointsPerNotch) {
  if (!(pointsPerNotch > 0) || !std::isfinite(pointsPerNotch)) {
    throw std::invalid_argument("points per notch must be a positive number");
  }
}

WheelNotchAccumulator::Notches WheelNotchAccumulator::add(double verticalPoints, double horizontalPoints) {
  return {take(vertical_, verticalPoints), take(horizontal_, horizontalPoints)};
}

void WheelNotchAccumulator::reset() {
  vertical_ = 0;
  horizontal_ = 0;
}

int WheelNotchAccumulator::take(double& residual, double points) const {
  if (!std::isfinite(points)) return 0;
  // The remainder is kept in points, not in fractions of a notch, so that
  // whole-point deltas add up exactly (5 + 10 points make one notch).
  const double total = residual + points;
  const double whole = std::trunc(total / pointsPerNotch_);
  if (std::abs(whole) > maxNotchesPerEvent) {
    residual = 0;
    return whole > 0 ? maxNotchesPerEvent : -maxNotchesPerEvent;
  }
  residual = total - whole * pointsPerNotch_;
  return static_cast<int>(whole);
}

}  // namespace glidemate::host
