#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "host/services/screen_preview/capture_schedule.hpp"
#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate::host {

// The screen preview's capture on an X server, over a connection of its
// own (XCB, so that nothing here shares Xlib's process-wide error and
// connection-loss handlers with the rest of the host, and a server that
// goes away ends the capture instead of the process).
//
// - Displays are the XRandR monitors (the whole screen without XRandR 1.5);
//   the capture follows the pointer from one to another.
// - Pixels come through MIT-SHM into one shared buffer, reused from frame to
//   frame; where shared memory is unavailable (a remote server, say) they
//   come through the connection instead, which is slower, and the start
//   says so in its log line.
// - Changes are learnt from XDamage (pixels), XFixes (the cursor's
//   picture), XRandR and the root window (the layout), and by reading the
//   pointer's position at the capture's frame rate.
// - The cursor's picture comes from XFixes, since X leaves it out of the
//   screen's pixels.
class X11ScreenCapture final : public ScreenCapture {
 public:
  struct Options {
    // Empty: the DISPLAY environment variable.
    std::string display;
    bool useSharedMemory = true;
    // How often the pointer is read while waiting for changes.
    std::chrono::steady_clock::duration pointerPollInterval = CaptureSchedule::minimumInterval;
  };

  explicit X11ScreenCapture(Options options);
  X11ScreenCapture() : X11ScreenCapture(Options{}) {}
  ~X11ScreenCapture() override;
  X11ScreenCapture(const X11ScreenCapture&) = delete;
  X11ScreenCapture& operator=(const X11ScreenCapture&) = delete;

  void start(Logger& log) override;
  void stop() override;
  bool waitForChange(std::chrono::steady_clock::time_point until) override;
  void wake() override;
  DisplayLocation locate() override;
  std::optional<CapturedFrame> grab(PixelRect region) override;

 private:
  struct Link;
  Options options_;
  int wakeFd_;
  std::unique_ptr<Link> link_;
};

}  // namespace glidemate::host
