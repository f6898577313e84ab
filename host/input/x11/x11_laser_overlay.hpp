#pragma once

#include <memory>

#include "host/input/cairo/laser_dot_painter.hpp"
#include "host/input/laser_overlay.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// Laser windows on an X server: 36 x 36 pixel override-redirect windows,
// which no window manager frames or moves, raised above every other window
// whenever they move. Where a compositing manager runs they use a 32-bit
// visual with alpha, so that the dot's glow blends with what is below;
// elsewhere the window is shaped to the dot, without the glow. Their input
// shape is empty, so clicks reach the window below. The dot is
// LaserDotPainter's.
class X11LaserOverlay final : public LaserOverlay {
 public:
  static constexpr int size = LaserDotPainter::frameSize;

  // Throws X11Error when the server lacks XFIXES, without which the window
  // would catch clicks.
  explicit X11LaserOverlay(std::shared_ptr<X11DesktopConnection> connection);

  std::unique_ptr<LaserWindow> open(LaserColor color, ScreenPoint centre) override;

 private:
  std::shared_ptr<X11DesktopConnection> connection_;
};

}  // namespace glidemate::host
