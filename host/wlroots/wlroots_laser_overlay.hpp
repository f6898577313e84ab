#pragma once

#include <asio/any_io_executor.hpp>
#include <string>

#include "host/input/laser_overlay.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// Laser windows on a wlroots compositor: a 36 x 36 layer-shell surface
// (zwlr_layer_shell_v1) on the overlay layer, above full-screen windows,
// anchored to the top left of the output that holds the point with margins
// that centre it there, taking no keyboard focus, with an empty input
// region so that clicks reach what is below, drawn once per colour from
// shared memory with LaserDotPainter's dot. Moving onto another output
// makes the surface anew there.
//
// Each window keeps a Wayland connection of its own, read on the main
// executor; nothing waits for the compositor. While the compositor is
// behind, moves are held back and the latest is sent when it catches up.
// A compositor that lacks the layer shell leaves the window drawing
// nothing, said once. One that goes away is looked for again, at most once a
// second, as the window follows the pointer, and the dot shows again when
// it is back.
class WlrootsLaserOverlay final : public LaserOverlay {
 public:
  struct Options {
    // The compositor's socket as WAYLAND_DISPLAY names it; empty: the
    // environment's.
    std::string display;
  };

  WlrootsLaserOverlay(const asio::any_io_executor& executor, Logger& logger, Options options);

  std::unique_ptr<LaserWindow> open(LaserColor color, ScreenPoint centre) override;

 private:
  asio::any_io_executor executor_;
  Logger& logger_;
  Options options_;
};

}  // namespace glidemate::host
