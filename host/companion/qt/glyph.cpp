#include "host/companion/qt/glyph.hpp"

#include <QPainter>
#include <QPen>

namespace glidemate::host {

std::array<QPointF, 4> Glyph::vertices(qreal s, qreal o, qreal canvasHeight) {
  const qreal k = s / 77;
  const qreal b = o - 9.5 * k;
  auto at = [&](qreal x, qreal y) { return QPointF(x * k + b, canvasHeight - (y * k + b)); };
  return {at(77, 19), at(55.8, 77), at(48.7, 47.3), at(19, 40.2)};
}

QPainterPath Glyph::path(qreal s, qreal o, qreal canvasHeight) {
  const auto v = vertices(s, o, canvasHeight);
  QPainterPath path(v[0]);
  for (std::size_t i = 1; i < v.size(); ++i) path.lineTo(v[i]);
  path.closeSubpath();
  return path;
}

void Glyph::draw(QPainter& painter, const QColor& colour, bool cutLine, qreal s, qreal o, qreal canvasHeight) {
  const QPainterPath glyph = path(s, o, canvasHeight);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colour, 19 * s / 77, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(colour);
  painter.drawPath(glyph);
  if (cutLine) {
    const auto v = vertices(s, o, canvasHeight);
    const auto previous = painter.compositionMode();
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(QPen(Qt::black, 1.1, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(v[0], v[2]);
    painter.setCompositionMode(previous);
  }
  painter.restore();
}

}  // namespace glidemate::host
