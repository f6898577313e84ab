#pragma once

namespace glidemate {

// Posted scroll deltas are whole points; the fractions are carried over to
// the next event so that slow scrolls still add up.
struct SubPixelAccumulator {
  struct WholeParts {
    double x;
    double y;
    bool operator==(const WholeParts&) const = default;
  };

  double residualX = 0;
  double residualY = 0;

  // Adds the residuals to the deltas and returns the whole parts (truncated
  // toward zero); the remainders, between -1 and 1 exclusive, stay behind.
  WholeParts take(double deltaX, double deltaY);
  void reset();

  bool operator==(const SubPixelAccumulator&) const = default;
};

}  // namespace glidemate
