// The preview service over a capture the test steers: frames from a still
// screen when they are due, the thread started and ended with the capture.
#include "host/services/screen_preview/screen_preview_service.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "host/services/screen_preview/screen_capture_error.hpp"
#include "tests/host/services/screen_preview/fake_screen_capture.hpp"
#include "tests/host/services/screen_preview/jpeg_image.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using testing::FakeScreenCapture;
using testing::JpegImage;

class ScreenPreviewServiceTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::shared_ptr<FakeScreenCapture::Control> screen = std::make_shared<FakeScreenCapture::Control>();
  CollectingLogger logger;
  ScreenPreviewService service{io.get_executor(), std::make_unique<FakeScreenCapture>(screen), logger};
  std::vector<Bytes> frames;

  void SetUp() override {
    service.setOnFrame([this](Bytes jpeg) {
      asio::post(io, [this, jpeg = std::move(jpeg)]() mutable { frames.push_back(std::move(jpeg)); });
    });
  }

  void waitForFrames(std::size_t count) { ASSERT_TRUE(runUntil(io, [&] { return frames.size() >= count; })); }

  int starts() {
    std::lock_guard guard(screen->lock);
    return screen->starts;
  }
};

TEST_F(ScreenPreviewServiceTest, AStartSendsAFrameOfAStillScreenAndEachChangeOneMore) {
  runAwaitable(io, service.start());
  EXPECT_TRUE(service.hasStream());
  waitForFrames(1);
  const JpegImage first(frames[0]);
  EXPECT_EQ(first.width(), 1280);
  EXPECT_EQ(first.height(), 800);
  EXPECT_TRUE(first.near(640, 400, testing::rgbOf(0x336699)));

  screen->change();
  waitForFrames(2);
  service.requestFrame();
  waitForFrames(3);
  EXPECT_EQ(starts(), 1);
}

TEST_F(ScreenPreviewServiceTest, AModeChangeSendsAFrameInTheNewModeWithoutRestartingTheCapture) {
  runAwaitable(io, service.start());
  waitForFrames(1);
  service.setMode(ScreenPreviewMode::cursor);
  waitForFrames(2);
  const JpegImage cropped(frames[1]);
  EXPECT_EQ(cropped.width(), 960);
  EXPECT_EQ(cropped.height(), 600);
  EXPECT_EQ(starts(), 1);
}

TEST_F(ScreenPreviewServiceTest, AStartThatFailsThrowsAndLeavesNoCapture) {
  screen->failStart = true;
  EXPECT_THROW(runAwaitable(io, service.start()), ScreenCaptureError);
  EXPECT_FALSE(service.hasStream());
  EXPECT_FALSE(service.isActive());
  screen->failStart = false;
  runAwaitable(io, service.start());  // a later start tries again
  EXPECT_TRUE(service.hasStream());
}

TEST_F(ScreenPreviewServiceTest, StartsAtOnceShareOneCaptureAndAStartDuringAStopWaitsForIt) {
  int started = 0;
  auto starting = [&]() -> asio::awaitable<void> {
    co_await service.start();
    ++started;
  };
  asio::co_spawn(io, starting(), asio::detached);
  asio::co_spawn(io, starting(), asio::detached);
  ASSERT_TRUE(runUntil(io, [&] { return started == 2; }));
  EXPECT_EQ(starts(), 1);

  bool stopped = false;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    co_await service.stop();
    stopped = true;
  }, asio::detached);
  asio::co_spawn(io, starting(), asio::detached);
  ASSERT_TRUE(runUntil(io, [&] { return started == 3; }));
  EXPECT_TRUE(stopped);
  EXPECT_EQ(starts(), 2);
  EXPECT_TRUE(service.hasStream());
}

TEST_F(ScreenPreviewServiceTest, StopLetsGoOfTheDisplayAndDropsTheFrameHandler) {
  runAwaitable(io, service.start());
  waitForFrames(1);
  runAwaitable(io, service.stop());
  EXPECT_FALSE(service.isActive());
  {
    std::lock_guard guard(screen->lock);
    EXPECT_FALSE(screen->running);
    EXPECT_EQ(screen->stops, 1);
  }
  // A new start without a new handler captures nothing for no one.
  runAwaitable(io, service.start());
  screen->change();
  runAwaitable(io, service.stop());
  EXPECT_EQ(frames.size(), 1U);
}

TEST_F(ScreenPreviewServiceTest, ADisplayThatGoesAwayEndsTheCaptureAndSaysSo) {
  runAwaitable(io, service.start());
  waitForFrames(1);
  screen->lose();
  ASSERT_TRUE(runUntil(io, [&] { return !service.isActive(); }));
  EXPECT_TRUE(logger.saw("capture ended: the display server went away"));
  std::lock_guard guard(screen->lock);
  EXPECT_FALSE(screen->running);
}

}  // namespace
}  // namespace glidemate::host
