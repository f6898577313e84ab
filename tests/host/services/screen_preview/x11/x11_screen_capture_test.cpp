// The preview captured from a private Xvfb that a test client paints with
// known colours: frames decoded and their pixels checked.
#include "host/services/screen_preview/x11/x11_screen_capture.hpp"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "host/services/screen_preview/screen_capture_error.hpp"
#include "host/services/screen_preview/screen_preview_service.hpp"
#include "tests/host/services/screen_preview/jpeg_image.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/x_painter.hpp"
#include "tests/support/xvfb_display.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using glidemate::testing::XPainter;
using testing::JpegImage;
using testing::rgbOf;
using testing::XvfbDisplay;

constexpr std::uint32_t red = 0xd02020;
constexpr std::uint32_t green = 0x20c020;
constexpr std::uint32_t blue = 0x2040d0;
constexpr std::uint32_t grey = 0xc0c0c0;
constexpr std::uint32_t yellow = 0xe0e020;
constexpr std::uint32_t magenta = 0xe020e0;

// An X server of the given size, a client painting on it, and the preview
// service capturing it.
class X11CaptureTest : public ::testing::Test {
 protected:
  explicit X11CaptureTest(int width = 1440, int height = 900) : xvfb({.screenWidth = width, .screenHeight = height}), painter(xvfb.name()) {}

  void makeService(bool sharedMemory = true) {
    service = std::make_unique<ScreenPreviewService>(
        io.get_executor(),
        std::make_unique<X11ScreenCapture>(X11ScreenCapture::Options{.display = xvfb.name(), .useSharedMemory = sharedMemory}),
        log);
    service->setOnFrame([this](Bytes jpeg) {
      asio::post(io, [this, jpeg = std::move(jpeg)] { frames.emplace_back(jpeg); });
    });
  }

  void TearDown() override {
    if (service) runAwaitable(io, service->stop());
  }

  // Waits for a frame that `fits`; earlier ones are passed over.
  const JpegImage* frameWhere(const std::function<bool(const JpegImage&)>& fits) {
    std::size_t seen = 0;
    const JpegImage* found = nullptr;
    runUntil(io, [&] {
      for (; seen < frames.size() && found == nullptr; ++seen) {
        if (fits(frames[seen])) found = &frames[seen];
      }
      return found != nullptr;
    });
    return found;
  }

  static std::function<bool(const JpegImage&)> showing(int width, int height, int x, int y, std::uint32_t colour) {
    return [=](const JpegImage& f) { return f.width() == width && f.height() == height && f.near(x, y, rgbOf(colour)); };
  }

  asio::io_context io;
  XvfbDisplay xvfb;
  XPainter painter;
  CollectingLogger log;
  std::unique_ptr<ScreenPreviewService> service;
  std::deque<JpegImage> frames;  // stays put as frames come
};

class X11CapturePathTest : public X11CaptureTest, public ::testing::WithParamInterface<bool> {};

TEST_P(X11CapturePathTest, ScreenFramesShowWhatWasDrawnAndEachChange) {
  painter.fill(0, 0, 720, 450, red);
  painter.fill(720, 0, 720, 450, green);
  painter.fill(0, 450, 720, 450, blue);
  painter.fill(720, 450, 720, 450, grey);
  painter.warpPointer(1430, 890);
  makeService(GetParam());
  runAwaitable(io, service->start());

  const JpegImage* first = frameWhere([](const JpegImage&) { return true; });
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->width(), 1280);
  EXPECT_EQ(first->height(), 800);
  EXPECT_TRUE(first->near(320, 200, rgbOf(red)));
  EXPECT_TRUE(first->near(960, 200, rgbOf(green)));
  EXPECT_TRUE(first->near(320, 600, rgbOf(blue)));
  EXPECT_TRUE(first->near(960, 600, rgbOf(grey)));
  EXPECT_TRUE(log.saw(GetParam() ? "through shared memory" : "through the X connection"));

  painter.fill(0, 0, 720, 450, yellow);
  EXPECT_NE(frameWhere(showing(1280, 800, 320, 200, yellow)), nullptr);
}

INSTANTIATE_TEST_SUITE_P(SharedMemoryOrNot, X11CapturePathTest, ::testing::Bool());

TEST_F(X11CaptureTest, CursorFramesAreCentredOnThePointerWithTheCursorDrawnIn) {
  painter.fill(0, 0, 1440, 900, 0x202020);
  painter.fill(900, 550, 40, 40, yellow);
  painter.useSquareCursor(16, magenta);
  painter.warpPointer(700, 450);
  makeService();
  service->setMode(ScreenPreviewMode::cursor);
  runAwaitable(io, service->start());

  // The window starts at 220,150: the block shows at 680,400.
  const JpegImage* framed = frameWhere(showing(960, 600, 700, 420, yellow));
  ASSERT_NE(framed, nullptr);
  EXPECT_TRUE(framed->near(480, 300, rgbOf(magenta)));
  EXPECT_TRUE(framed->near(600, 300, rgbOf(0x202020)));

  // Moving the pointer moves the window (now from 120,100) with it.
  painter.warpPointer(600, 400);
  const JpegImage* moved = frameWhere(showing(960, 600, 800, 470, yellow));
  ASSERT_NE(moved, nullptr);
  EXPECT_TRUE(moved->near(480, 300, rgbOf(magenta)));
}

TEST_F(X11CaptureTest, WhenCaptureStopsItsConnectionToTheServerIsGone) {
  const int before = painter.clientCount();
  makeService();
  runAwaitable(io, service->start());
  ASSERT_NE(frameWhere([](const JpegImage&) { return true; }), nullptr);
  EXPECT_EQ(painter.clientCount(), before + 1);

  runAwaitable(io, service->stop());
  // The server notices the closed connection on its own time.
  EXPECT_TRUE(runUntil(io, [&] { return painter.clientCount() == before; }));
}

TEST_F(X11CaptureTest, AServerThatDiesEndsTheCaptureAndTheNextStartFails) {
  makeService();
  runAwaitable(io, service->start());
  ASSERT_NE(frameWhere([](const JpegImage&) { return true; }), nullptr);
  xvfb.kill();
  ASSERT_TRUE(runUntil(io, [&] { return !service->isActive(); }));
  EXPECT_TRUE(log.saw("capture ended: the display server went away"));
  EXPECT_THROW(runAwaitable(io, service->start()), ScreenCaptureError);
}

TEST(X11CaptureWithoutServerTest, AWaylandSessionWithoutXCannotStartTheCapture) {
  ::unsetenv("DISPLAY");
  ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  X11ScreenCapture capture;
  NullLogger log;
  try {
    capture.start(log);
    FAIL() << "the capture started without an X server";
  } catch (const ScreenCaptureError& e) {
    EXPECT_EQ(e, ScreenCaptureError::cannotConnect(""));
  }
}

// One wide screen split into two monitors side by side, as XRandR 1.5
// monitors (a user's `xrandr --setmonitor`).
class X11TwoMonitorTest : public X11CaptureTest {
 protected:
  X11TwoMonitorTest() : X11CaptureTest(2880, 900) {
    painter.setMonitor("LEFT", 0, 0, 1440, 900);
    painter.setMonitor("RIGHT", 1440, 0, 1440, 900);
    painter.fill(0, 0, 1440, 900, red);
    painter.fill(1440, 0, 1440, 900, blue);
  }
};

TEST_F(X11TwoMonitorTest, TheCaptureFollowsThePointerToTheOtherMonitor) {
  painter.warpPointer(700, 450);
  makeService();
  runAwaitable(io, service->start());
  ASSERT_NE(frameWhere(showing(1280, 800, 640, 400, red)), nullptr);

  painter.warpPointer(2100, 450);
  EXPECT_NE(frameWhere(showing(1280, 800, 640, 400, blue)), nullptr);
  EXPECT_TRUE(log.saw("following the pointer to 1440×900 at 1440,0"));
}

TEST_F(X11TwoMonitorTest, AMonitorUnpluggedDuringCaptureMovesTheCaptureToWhatRemains) {
  painter.warpPointer(2100, 450);
  makeService();
  runAwaitable(io, service->start());
  ASSERT_NE(frameWhere(showing(1280, 800, 640, 400, blue)), nullptr);

  // What remains under the pointer is the server's own monitor for the
  // whole screen: both colours, scaled to 1280 × 400.
  painter.deleteMonitor("RIGHT");
  const JpegImage* whole = frameWhere(showing(1280, 400, 320, 200, red));
  ASSERT_NE(whole, nullptr);
  EXPECT_TRUE(whole->near(960, 200, rgbOf(blue)));
}

}  // namespace
}  // namespace glidemate::host
