#pragma once

#include <cmath>

namespace glidemate {

// A displacement on the touch surface or the screen, in points.
struct Vector {
  double dx = 0;
  double dy = 0;

  double length() const { return std::hypot(dx, dy); }
  bool isZero() const { return dx == 0 && dy == 0; }

  Vector& operator+=(Vector other) {
    dx += other.dx;
    dy += other.dy;
    return *this;
  }
  bool operator==(const Vector&) const = default;
};

// A location on the touch surface, in points; y grows downwards.
struct Point {
  double x = 0;
  double y = 0;

  friend Vector operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
  bool operator==(const Point&) const = default;
};

}  // namespace glidemate
