#include "host/companion/qt/menu_bar_icon.hpp"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "host/companion/qt/glyph.hpp"

namespace glidemate::host {
namespace {

QImage canvas(int scale) {
  QImage image(MenuBarIcon::size * scale, MenuBarIcon::size * scale, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(scale);
  return image;
}

// The glyph with its cut line, in a layer of its own so that the cut clears
// only the glyph.
QImage glyphLayer(const QColor& colour, int scale) {
  QImage layer = canvas(scale);
  QPainter painter(&layer);
  Glyph::draw(painter, colour, true, 16, 1, MenuBarIcon::size);
  return layer;
}

QImage draw(MenuBarIconStyle style, const QColor& colour, int scale) {
  QImage image = canvas(scale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  switch (style) {
    case MenuBarIconStyle::idle:
      painter.drawImage(QPointF(0, 0), glyphLayer(colour, scale));
      break;
    case MenuBarIconStyle::paused:
      painter.setOpacity(0.4);
      painter.drawImage(QPointF(0, 0), glyphLayer(colour, scale));
      painter.setOpacity(1);
      break;
    case MenuBarIconStyle::pairing: {
      painter.drawImage(QPointF(0, 0), glyphLayer(colour, scale));
      painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
      painter.setPen(Qt::NoPen);
      painter.setBrush(colour);
      // The dot's rectangle is given y-up; its top edge in Qt's terms.
      const qreal x = 0.7896103896103899;
      const qreal y = 12.010389610389613;
      const qreal d = 5.2;
      painter.drawEllipse(QRectF(x, MenuBarIcon::size - y - d, d, d));
      break;
    }
    case MenuBarIconStyle::viewing: {
      QPainterPath square;
      square.addRoundedRect(QRectF(0.5, 0.5, 17, 17), 4.5, 4.5);
      painter.fillPath(square, colour);
      painter.setCompositionMode(QPainter::CompositionMode_Clear);
      Glyph::draw(painter, colour, false, 11, 3.5, MenuBarIcon::size);
      break;
    }
  }
  return image;
}

}  // namespace

QImage MenuBarIcon::image(MenuBarIconStyle style, const QColor& colour, int scale) {
  static QHash<QString, QImage> cache;
  const QString key = QString("%1/%2/%3").arg(static_cast<int>(style)).arg(colour.name(QColor::HexArgb)).arg(scale);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.insert(key, draw(style, colour, scale));
  return *it;
}

QIcon MenuBarIcon::icon(MenuBarIconStyle style, const QColor& colour) {
  QIcon icon;
  for (int scale : {1, 2}) {
    // As plain pixels too: a tray host asking for 36 × 36 gets the 2× drawing.
    QImage pixels = image(style, colour, scale);
    pixels.setDevicePixelRatio(1);
    icon.addPixmap(QPixmap::fromImage(pixels));
  }
  return icon;
}

}  // namespace glidemate::host
