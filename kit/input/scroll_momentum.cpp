#include "kit/input/scroll_momentum.hpp"

#include <algorithm>
#include <cmath>

namespace glidemate {

void ScrollMomentum::start(double vx, double vy) {
  const double s = std::hypot(vx, vy);
  if (!std::isfinite(s) || s <= 0) {
    stop();
    return;
  }
  const double scale = std::min(maximumSpeed, s) / s;
  velocityX = vx * scale;
  velocityY = vy * scale;
}

void ScrollMomentum::stop() {
  velocityX = 0;
  velocityY = 0;
}

double ScrollMomentum::speed() const { return std::hypot(velocityX, velocityY); }

std::optional<ScrollMomentum::Displacement> ScrollMomentum::step(double duration) {
  if (speed() < minimumSpeed || !(duration > 0)) {
    stop();
    return std::nullopt;
  }
  const double k = 1000.0 * std::log(decayRate);
  const double f = std::exp(k * duration);
  const double g = (f - 1) / k;
  const Displacement displacement{velocityX * g, velocityY * g};
  velocityX *= f;
  velocityY *= f;
  if (speed() < minimumSpeed) stop();
  return displacement;
}

double ScrollMomentum::remainingDistance() const {
  if (!isActive()) return 0;
  return speed() / (-1000.0 * std::log(decayRate));
}

}  // namespace glidemate
