#pragma once

#include <algorithm>

namespace glidemate::host {

// Positions and areas in device pixels, y growing downwards: how displays,
// captured frames and the cursor are measured.
struct PixelPoint {
  int x = 0;
  int y = 0;
  bool operator==(const PixelPoint&) const = default;
};

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool contains(PixelPoint p) const { return p.x >= x && p.y >= y && p.x < x + width && p.y < y + height; }
  bool intersects(const PixelRect& o) const {
    return o.x < x + width && x < o.x + o.width && o.y < y + height && y < o.y + o.height;
  }
  // The common part; empty (zero size) when there is none.
  PixelRect intersected(const PixelRect& o) const {
    const int left = std::max(x, o.x);
    const int top = std::max(y, o.y);
    const int right = std::min(x + width, o.x + o.width);
    const int bottom = std::min(y + height, o.y + o.height);
    if (right <= left || bottom <= top) return {left, top, 0, 0};
    return {left, top, right - left, bottom - top};
  }
  PixelPoint origin() const { return {x, y}; }
  PixelSize size() const { return {width, height}; }
  bool operator==(const PixelRect&) const = default;
};

}  // namespace glidemate::host
