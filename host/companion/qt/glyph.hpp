#pragma once

#include <QPainterPath>
#include <QPointF>
#include <array>

class QPainter;

namespace glidemate::host {

// The arrow head of the Glidemate mark, drawn for size `s` at origin `o` in
// y-up coordinates of a canvas `canvasHeight` high (as the tray icon's
// geometry is given), mapped to Qt's y-down coordinates.
struct Glyph {
  // tip, tail, notch, wing
  static std::array<QPointF, 4> vertices(qreal s, qreal o, qreal canvasHeight);
  static QPainterPath path(qreal s, qreal o, qreal canvasHeight);
  // Fills and strokes the path with the painter's current composition and
  // `colour`; with `cutLine`, then clears a thin line from the tip to the
  // notch.
  static void draw(QPainter& painter, const QColor& colour, bool cutLine, qreal s, qreal o, qreal canvasHeight);
};

}  // namespace glidemate::host
