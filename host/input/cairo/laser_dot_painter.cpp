#include "host/input/cairo/laser_dot_painter.hpp"

#include <cairo.h>

#include <cmath>
#include <numbers>

namespace glidemate::host {
namespace {

constexpr double centre = LaserDotPainter::frameSize / 2.0;
constexpr double dotRadius = LaserDotPainter::dotRadius;

struct Rgb {
  double red, green, blue;
};

Rgb rgb(LaserColor color) {
  // The system red, and a bright green.
  return color == LaserColor::red ? Rgb{1.0, 59.0 / 255, 48.0 / 255} : Rgb{0.2, 1.0, 0.3};
}

// A glow: the dot blurred like a shadow of the given radius (a Gaussian of
// half that deviation), drawn as a radial gradient sampled from it.
void glow(cairo_t* cr, Rgb color, double opacity, double radius) {
  const double sigma = radius / 2;
  const double outer = dotRadius + 3 * sigma;
  cairo_pattern_t* pattern = cairo_pattern_create_radial(centre, centre, 0, centre, centre, outer);
  constexpr int stops = 24;
  for (int i = 0; i <= stops; ++i) {
    const double distance = outer * i / stops;
    const double alpha = opacity * 0.5 * std::erfc((distance - dotRadius) / (sigma * std::numbers::sqrt2));
    cairo_pattern_add_color_stop_rgba(pattern, static_cast<double>(i) / stops, color.red, color.green, color.blue,
                                      alpha);
  }
  cairo_set_source(cr, pattern);
  cairo_paint(cr);
  cairo_pattern_destroy(pattern);
}

}  // namespace

void LaserDotPainter::paint(cairo_t* cr, LaserColor color, bool withGlow) {
  const Rgb dot = rgb(color);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, frameSize, frameSize);
  cairo_clip(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_rgba(cr, 0, 0, 0, 0);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  if (withGlow) {
    glow(cr, dot, 0.5, 12);
    glow(cr, dot, 0.9, 6);
  }
  cairo_arc(cr, centre, centre, dotRadius, 0, 2 * std::numbers::pi);
  cairo_set_source_rgb(cr, dot.red, dot.green, dot.blue);
  cairo_fill(cr);
  cairo_restore(cr);
}

}  // namespace glidemate::host
