#pragma once

#include <memory>
#include <string>

#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate::host {

// The capture on wlroots compositors (sway and its kin) through their
// screencopy protocol (zwlr_screencopy_manager_v1), on a Wayland connection
// of the capture thread's own, into shared memory, the cursor drawn in by
// the compositor.
//
// The compositor tells no client where the pointer is, so the first output
// is captured and the pointer is never located (the cursor crop shows the
// display's top-left corner). Nor is damage read: while frames are wanted,
// waitForChange() reports a change at every deadline.
class WlrootsScreenCapture final : public ScreenCapture {
 public:
  // `display`: WAYLAND_DISPLAY's name or a path; empty: the environment's.
  explicit WlrootsScreenCapture(std::string display = {});
  ~WlrootsScreenCapture() override;
  WlrootsScreenCapture(const WlrootsScreenCapture&) = delete;
  WlrootsScreenCapture& operator=(const WlrootsScreenCapture&) = delete;

  void start(Logger& log) override;
  void stop() override;
  bool waitForChange(std::chrono::steady_clock::time_point until) override;
  void wake() override;
  DisplayLocation locate() override;
  std::optional<CapturedFrame> grab(PixelRect region) override;

 private:
  struct Connection;
  std::string display_;
  // Set and read by the capture thread; wake() only writes the event.
  std::unique_ptr<Connection> connection_;
  int wakeFd_ = -1;
};

}  // namespace glidemate::host
