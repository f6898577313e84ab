#include "kit/input/pointer_acceleration.hpp"

#include <algorithm>

namespace glidemate {

Vector PointerAcceleration::scale(Vector delta, double duration) const {
  if (delta.isZero()) return {};
  double gain = baseGain * trackingSpeed;
  if (duration > 0) {
    const double speed = delta.length() / duration;
    const double range = maximumSpeed - minimumSpeed;
    // A range of zero or less would divide by zero and turn every move into
    // NaN; such a curve is a step at maximumSpeed.
    const double t = range > 0 ? std::clamp((speed - minimumSpeed) / range, 0.0, 1.0)
                               : (speed >= maximumSpeed ? 1.0 : 0.0);
    gain = trackingSpeed * (baseGain + (maximumGain - baseGain) * t);
  }
  return {delta.dx * gain, delta.dy * gain};
}

}  // namespace glidemate
