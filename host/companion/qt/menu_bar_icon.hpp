#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

#include "host/companion/menu_bar_icon_style.hpp"

namespace glidemate::host {

// The tray icon's four looks, drawn from the mark's geometry on an 18 × 18
// canvas: monochrome in one colour on transparency, like a template image,
// at 1× and 2× (HiDPI).
class MenuBarIcon {
 public:
  static constexpr int size = 18;

  // Drawn once per style, colour and scale for the life of the process.
  static QImage image(MenuBarIconStyle style, const QColor& colour = Qt::black, int scale = 1);
  // Both scales, for the tray.
  static QIcon icon(MenuBarIconStyle style, const QColor& colour);
};

}  // namespace glidemate::host
