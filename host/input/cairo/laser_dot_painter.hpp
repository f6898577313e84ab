#pragma once

#include "kit/wire/status.hpp"

// As cairo.h declares it, so that users of the frame size need not see Cairo.
typedef struct _cairo cairo_t;  // NOLINT(modernize-use-using)

namespace glidemate::host {

// The laser dot's picture, the same on every desktop: a 14-point circle in
// the dot's colour, centred in a 36 x 36 frame, with two glows of that
// colour around it (opacity 0.9 over a radius of 6, opacity 0.5 over 12).
class LaserDotPainter {
 public:
  static constexpr int frameSize = 36;
  // The circle's radius, about the frame's centre.
  static constexpr double dotRadius = 7;

  // Replaces everything in the frame at (0, 0) of `cr` with the dot.
  // Without `glow` only the circle is drawn, for surfaces that cannot
  // blend with what is below them.
  static void paint(cairo_t* cr, LaserColor color, bool glow);
};

}  // namespace glidemate::host
