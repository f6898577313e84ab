#include "kit/input/sub_pixel_accumulator.hpp"

#include <cmath>

namespace glidemate {

SubPixelAccumulator::WholeParts SubPixelAccumulator::take(double deltaX, double deltaY) {
  const double sumX = residualX + deltaX;
  const double sumY = residualY + deltaY;
  const WholeParts whole{std::trunc(sumX), std::trunc(sumY)};
  residualX = sumX - whole.x;
  residualY = sumY - whole.y;
  return whole;
}

void SubPixelAccumulator::reset() {
  residualX = 0;
  residualY = 0;
}

}  // namespace glidemate
