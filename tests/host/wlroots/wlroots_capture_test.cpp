// The screen capture of a real headless sway through screencopy, showing
// the test window's four quadrants.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "host/services/screen_preview/screen_capture_error.hpp"
#include "host/services/screen_preview/wlroots/wlroots_screen_capture.hpp"
#include "tests/support/wayland/headless_sway.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using glidemate::testing::HeadlessSway;

class SilentLog final : public Logger {
 public:
  void log(std::string_view, std::string_view) override {}
};

// The colour of a BGRX pixel, as 0xRRGGBB.
std::uint32_t colourAt(const CapturedFrame& frame, int x, int y) {
  std::uint32_t pixel = 0;
  std::memcpy(&pixel, frame.pixels + static_cast<std::size_t>(y) * frame.stride + static_cast<std::size_t>(x) * 4, 4);
  return pixel & 0xFFFFFF;
}

constexpr std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF;

class SwayCaptureTest : public ::testing::Test {
 protected:
  // Once sway has drawn a frame after the window's first picture, every
  // capture shows the window.
  SwayCaptureTest() {
    sway.adoptEnvironment();
    window = glidemate::testing::startWaylandTestClient(sway);
    EXPECT_FALSE(window->readLineContaining("presented", 30000ms).empty()) << "the window was not shown";
    window->writeLine("sync");
    EXPECT_FALSE(window->readLineContaining("synced", 30000ms).empty()) << "sway drew no frame";
  }

  HeadlessSway sway;
  std::unique_ptr<glidemate::testing::ChildProcess> window;
  SilentLog log;
  WlrootsScreenCapture capture{sway.waylandDisplay()};
};

TEST_F(SwayCaptureTest, GrabsTheOutputAndRegionsOfIt) {
  capture.start(log);
  const auto where = capture.locate();
  EXPECT_EQ(where.size, (PixelSize{HeadlessSway::width, HeadlessSway::height}));
  EXPECT_EQ(where.pointer, std::nullopt);

  const auto whole = capture.grab({0, 0, where.size.width, where.size.height});
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(whole->size, where.size);
  EXPECT_EQ(colourAt(*whole, 100, 100), red);
  EXPECT_EQ(colourAt(*whole, 1340, 100), green);
  EXPECT_EQ(colourAt(*whole, 1340, 800), white);
  EXPECT_EQ(colourAt(*whole, 100, 800), blue);

  // Across the middle, off the pointer, and past the right edge.
  const auto part = capture.grab({1380, 400, 100, 100});
  ASSERT_TRUE(part.has_value());
  EXPECT_EQ(part->size, (PixelSize{60, 100}));
  EXPECT_EQ(part->stride, 240);
  EXPECT_EQ(colourAt(*part, 0, 0), green);
  EXPECT_EQ(colourAt(*part, 59, 99), white);
}

TEST_F(SwayCaptureTest, AWaitEndsWhenWokenAndTheCaptureWhenSwayGoes) {
  capture.start(log);
  std::thread waker([&] { capture.wake(); });
  EXPECT_FALSE(capture.waitForChange(std::chrono::steady_clock::time_point::max()));
  waker.join();

  sway.stopSway();
  EXPECT_THROW(
      {
        for (;;) capture.waitForChange(std::chrono::steady_clock::time_point::max());
      },
      ScreenCaptureError);
}

TEST(WlrootsCapture, NoCompositorIsACaptureThatCannotConnect) {
  SilentLog log;
  WlrootsScreenCapture capture("wayland-nobody-serves");
  try {
    capture.start(log);
    FAIL() << "started";
  } catch (const ScreenCaptureError& e) {
    EXPECT_TRUE(std::holds_alternative<ScreenCaptureError::CannotConnect>(e.which()));
  }
}

}  // namespace
}  // namespace glidemate::host
