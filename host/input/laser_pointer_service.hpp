#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <memory>
#include <optional>

#include "host/input/event_poster.hpp"
#include "host/input/laser_overlay.hpp"
#include "kit/runtime/task.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// Turns the cursor into a glowing red or green dot while a phone presents:
// a laser window follows the cursor sixty times a second and the system
// cursor is hidden meanwhile. The phone keeps steering the cursor with
// ordinary pointer moves. One instance; main executor. Destroying it hides
// the dot and shows the cursor again.
//
// Without an overlay (a desktop that puts no window of ours above the
// others, such as GNOME's Wayland session) the colour is still taken and
// kept, but no dot is drawn and the cursor stays as it is.
class LaserPointerService {
 public:
  static constexpr std::chrono::steady_clock::duration followInterval =
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1.0 / 60));

  // `overlay` may be null: see above.
  LaserPointerService(asio::any_io_executor executor, EventPoster& poster, std::unique_ptr<LaserOverlay> overlay);
  ~LaserPointerService();
  LaserPointerService(const LaserPointerService&) = delete;
  LaserPointerService& operator=(const LaserPointerService&) = delete;

  // A colour shows the dot (or recolours it); nothing hides it.
  void set(std::optional<LaserColor> color);
  // Also when a phone's stream ends. Hiding when nothing shows still shows
  // the cursor.
  void hide();

  bool isShown() const { return window_ != nullptr; }
  // The colour last set; hiding keeps it.
  std::optional<LaserColor> color() const { return color_; }

 private:
  void show(LaserColor color);
  void follow();

  asio::any_io_executor executor_;
  EventPoster& poster_;
  std::unique_ptr<LaserOverlay> overlay_;
  std::unique_ptr<LaserWindow> window_;
  Task timer_;
  std::optional<LaserColor> color_;
};

}  // namespace glidemate::host
