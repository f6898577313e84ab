// Test helper: a screen capture whose display, pointer and changes the test
// decides, from its own thread, while the preview service's capture thread
// uses it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate::host::testing {

class FakeScreenCapture final : public ScreenCapture {
 public:
  // What the test steers and reads; shared with the capture, which the
  // service owns.
  struct Control {
    std::mutex lock;
    std::condition_variable wakeUp;
    PixelSize display{1440, 900};
    std::optional<PixelPoint> pointer;
    std::uint32_t colour = 0x336699;  // 0xRRGGBB, the whole display
    bool failStart = false;
    bool loseDisplay = false;  // the next wait finds the display gone
    int starts = 0;
    int stops = 0;
    int grabs = 0;
    bool running = false;
    bool changed = false;
    bool woken = false;

    // Tells the capture the display changed.
    void change();
    void lose();
  };

  explicit FakeScreenCapture(std::shared_ptr<Control> control) : control_(std::move(control)) {}

  void start(Logger& log) override;
  void stop() override;
  bool waitForChange(std::chrono::steady_clock::time_point until) override;
  void wake() override;
  DisplayLocation locate() override;
  std::optional<CapturedFrame> grab(PixelRect region) override;

 private:
  std::shared_ptr<Control> control_;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace glidemate::host::testing
