#pragma once

#include <algorithm>
#include <optional>

namespace glidemate::host {

// A point in global display coordinates: origin at the top-left corner of
// the main display, y growing downwards, in points.
struct ScreenPoint {
  double x = 0;
  double y = 0;
  bool operator==(const ScreenPoint&) const = default;
};

// A display rectangle in global display coordinates.
struct ScreenRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }

  // The smallest rectangle holding both.
  ScreenRect united(const ScreenRect& other) const {
    const double left = std::min(minX(), other.minX());
    const double top = std::min(minY(), other.minY());
    return {left, top, std::max(maxX(), other.maxX()) - left, std::max(maxY(), other.maxY()) - top};
  }

  bool operator==(const ScreenRect&) const = default;
};

}  // namespace glidemate::host
