// The screen preview on GNOME's Wayland session, against a real headless
// mutter: a full-screen window of ours paints four known quadrants, and the
// preview's frames, decoded, must show them; when mutter goes the capture
// ends, and a later start casts the new mutter.
#include "host/services/screen_preview/gnome/mutter_screen_cast_source.hpp"
#include "host/services/screen_preview/pipewire/pipewire_screen_capture.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/gnome/mutter_remote_desktop.hpp"
#include "host/services/screen_preview/screen_capture_error.hpp"
#include "host/services/screen_preview/screen_preview_service.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/host/services/screen_preview/preview_frames.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_mutter.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::HeadlessMutter;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using testing::JpegImage;
using testing::PreviewFrames;
using testing::showsTheWindowQuadrants;
using testing::rgbOf;

constexpr auto patience = 30000ms;

class MutterScreenCaptureTest : public ::testing::Test {
 protected:
  MutterScreenCaptureTest() : connection(DBusConnection::openAddress(io.get_executor(), mutter.sessionBus().address())) {
    mutter.adoptEnvironment();
    service = std::make_unique<ScreenPreviewService>(
        io.get_executor(),
        std::make_unique<PipeWireScreenCapture>(io.get_executor(), std::make_shared<MutterScreenCastSource>(connection)),
        log);
  }

  ~MutterScreenCaptureTest() override {
    if (service->isActive()) runAwaitable(io, service->stop());
    service.reset();
    io.restart();
    io.poll();
  }

  // The window, once mutter has shown its picture.
  void startClient() {
    client = glidemate::testing::startWaylandTestClient(mutter);
    ASSERT_EQ(client->readLineContaining("presented", patience), "presented");
  }

  void startPreview() { frames.start(io, *service); }

  std::optional<JpegImage> frameWhere(const std::function<bool(const JpegImage&)>& accept,
                                      std::chrono::steady_clock::duration limit = patience) {
    return frames.next(io, accept, limit);
  }

  HeadlessMutter mutter;
  asio::io_context io;
  std::shared_ptr<DBusConnection> connection;
  CollectingLogger log;
  // Outlives the service, whose frames it takes.
  PreviewFrames frames;
  std::unique_ptr<ScreenPreviewService> service;
  std::unique_ptr<ChildProcess> client;
};

TEST_F(MutterScreenCaptureTest, FramesShowWhatTheWindowPainted) {
  startClient();
  startPreview();
  const auto screen = frameWhere(showsTheWindowQuadrants);
  ASSERT_TRUE(screen) << "no frame showed the window's quadrants";
  EXPECT_EQ(screen->width(), 1280);
  EXPECT_EQ(screen->height(), 800) << "1440 x 900 scaled to 1280 wide";
  EXPECT_TRUE(log.saw("screen cast of mutter"));

  // A still screen still gives the frame a new mode asks for.
  service->setMode(ScreenPreviewMode::cursor);
  const auto crop = frameWhere([](const JpegImage& image) { return image.width() == 960; });
  ASSERT_TRUE(crop);
  EXPECT_EQ(crop->height(), 600);
}

// The cursor comes as the stream's metadata: the crop follows it, and the
// preview draws its picture where the pointer is.
TEST_F(MutterScreenCaptureTest, TheCursorCropFollowsThePointerAndShowsTheCursor) {
  MutterRemoteDesktop input(io.get_executor(), connection, log, MutterRemoteDesktop::Options{.screenCast = false});
  ASSERT_TRUE(runUntil(io, [&] { return input.isReady(); }));
  startClient();
  service->setMode(ScreenPreviewMode::cursor);
  startPreview();
  // From the screen's top-left corner, where the pointer starts, to the
  // middle of the red quadrant.
  for (int i = 0; i < 9; ++i) input.pointerMotionRelative(40, 25);
  io.poll();
  const auto showsTheCursor = [](const JpegImage& image) {
    if (image.width() != 960 || !image.near(100, 100, rgbOf(0xff0000))) return false;
    // The window's black cursor near (360, 225), in a crop that starts at
    // the screen's corner (mutter may have moved the pointer a little as
    // the window appeared).
    for (int y = 225; y < 290; ++y) {
      for (int x = 360; x < 425; ++x) {
        if (image.near(x, y, rgbOf(0x000000), 60)) return true;
      }
    }
    return false;
  };
  // A window that grew into place under the pointer hears of it, and shows
  // its cursor, once the pointer moves again.
  std::optional<JpegImage> crop;
  for (int attempt = 0; attempt < 60 && !crop; ++attempt) {
    crop = frameWhere(showsTheCursor, std::chrono::seconds(1));
    input.pointerMotionRelative(attempt % 2 == 0 ? 1 : -1, 0);
    io.poll();
  }
  EXPECT_TRUE(crop) << "no frame showed the cursor at the pointer";
}

TEST_F(MutterScreenCaptureTest, TheCaptureEndsWithMutterAndAStartCastsTheNewOne) {
  startClient();
  startPreview();
  ASSERT_TRUE(frameWhere(showsTheWindowQuadrants));

  client.reset();
  mutter.stopMutter();
  ASSERT_TRUE(runUntil(io, [&] { return !service->isActive(); })) << "the capture outlived mutter";
  EXPECT_TRUE(log.saw("capture ended"));

  mutter.startMutter();
  startClient();
  startPreview();
  // mutter sends a cast's frames as it draws, and a fresh mutter at times
  // sends none for a screen that was still when the cast began, nor for
  // one draw made soon after: have the window draw until a frame comes.
  // Frames are kept, so a late one is found by the next look.
  std::optional<JpegImage> frame;
  for (int draw = 0; draw < 100 && !frame; ++draw) {
    client->writeLine("sync");
    ASSERT_EQ(client->readLineContaining("synced", patience), "synced");
    frame = frameWhere(showsTheWindowQuadrants, 300ms);
  }
  EXPECT_TRUE(frame) << "no frame from the new mutter\n" << log.all();
}

TEST_F(MutterScreenCaptureTest, WithoutMutterTheStartFails) {
  mutter.stopMutter();
  EXPECT_THROW(runAwaitable(io, service->start()), ScreenCaptureError);
  EXPECT_FALSE(service->isActive());
}

}  // namespace
}  // namespace glidemate::host
