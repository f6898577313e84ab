// The screen preview on the desktop portal's route, against the double of
// the portal: its session's stream is a real screen cast of a headless
// mutter, handed out with a connection to that mutter's PipeWire, so the
// preview's frames, decoded, must show what the test window painted.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/gnome/mutter_screen_cast.hpp"
#include "host/portal/portal_remote_desktop.hpp"
#include "host/services/screen_preview/pipewire/pipewire_screen_capture.hpp"
#include "host/services/screen_preview/portal/portal_screen_cast_source.hpp"
#include "host/services/screen_preview/screen_capture_error.hpp"
#include "host/services/screen_preview/screen_preview_service.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/host/services/screen_preview/preview_frames.hpp"
#include "tests/support/dbus_mock.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_mutter.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::DBusMockClient;
using glidemate::testing::HeadlessMutter;
using glidemate::testing::PrivateBus;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;
using testing::JpegImage;
using testing::PreviewFrames;
using testing::showsTheWindowQuadrants;

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* controlInterface = "org.glidemate.tests.PortalControl";
constexpr auto patience = 30000ms;

class PortalScreenCaptureTest : public ::testing::Test {
 protected:
  PortalScreenCaptureTest() {
    bus.startMock({"-t", GLIDEMATE_DESKTOP_PORTAL_TEMPLATE, "--logfile", (bus.folder() / "portal.log").string()},
                  portalName);
    connection = DBusConnection::openAddress(io.get_executor(), bus.address());
    mock = std::make_unique<DBusMockClient>(bus.address());
  }

  ~PortalScreenCaptureTest() override {
    if (service && service->isActive()) runAwaitable(io, service->stop());
    service.reset();
    portal.reset();
    cast.reset();
    io.restart();
    io.poll();
  }

  // mutter casts its monitor, the double hands that cast out as its
  // session's stream, and the test window shows.
  void shareMuttersMonitor() {
    mutter = std::make_unique<HeadlessMutter>();
    mutterBus = DBusConnection::openAddress(io.get_executor(), mutter->sessionBus().address());
    cast = std::make_unique<MutterScreenCast>(io.get_executor(), mutterBus, MutterScreenCast::Options{});
    const std::uint32_t node = runAwaitable(io, cast->start());
    auto proxy = sdbus::createProxy(mock->connection(), portalName, portalPath);
    proxy->callMethod("SetStream")
        .onInterface(controlInterface)
        .withArguments(node, (mutter->runtimeDir() / "pipewire-0").string());
    client = glidemate::testing::startWaylandTestClient(*mutter);
    ASSERT_EQ(client->readLineContaining("presented", patience), "presented");
  }

  void startSession(bool screenCast = true) {
    PortalRemoteDesktop::Options options;
    options.retryInterval = 0ms;
    options.screenCast = screenCast;
    portal = std::make_unique<PortalRemoteDesktop>(io.get_executor(), connection, log, options);
    service = std::make_unique<ScreenPreviewService>(
        io.get_executor(),
        std::make_unique<PipeWireScreenCapture>(io.get_executor(), std::make_shared<PortalScreenCastSource>(*portal)),
        log);
  }

  void waitReady() {
    ASSERT_TRUE(runUntil(io, [&] { return portal->isReady(); })) << "no session:\n" << log.all();
  }

  // mutter sends frames as it draws, not to a reader that joins a cast
  // already running: the window draws again until a frame shows it (the
  // reader's link may still be in the making at the first drawing).
  std::optional<JpegImage> startAndSeeTheWindow() {
    frames.start(io, *service);
    std::optional<JpegImage> seen;
    for (int attempt = 0; attempt < 30 && !seen; ++attempt) {
      client->writeLine("sync");
      EXPECT_EQ(client->readLineContaining("synced", patience), "synced");
      seen = frames.next(io, showsTheWindowQuadrants, 1s);
    }
    return seen;
  }

  // Why the preview could not start; empty when it started.
  std::string startFailure() {
    try {
      frames.start(io, *service);
    } catch (const ScreenCaptureError& e) {
      return e.what();
    }
    return {};
  }

  std::size_t callsOf(const std::string& method) { return mock->calls(portalName, portalPath, method).size(); }

  asio::io_context io;
  PrivateBus bus;
  std::shared_ptr<DBusConnection> connection;
  std::unique_ptr<DBusMockClient> mock;
  CollectingLogger log;
  std::unique_ptr<HeadlessMutter> mutter;
  std::shared_ptr<DBusConnection> mutterBus;
  std::unique_ptr<MutterScreenCast> cast;
  std::unique_ptr<ChildProcess> client;
  std::unique_ptr<PortalRemoteDesktop> portal;
  // Outlives the service, whose frames it takes.
  PreviewFrames frames;
  std::unique_ptr<ScreenPreviewService> service;
};

// Each start reads the one session's stream through a connection of its
// own; the user is never asked for a second session.
TEST_F(PortalScreenCaptureTest, EachStartReadsTheSessionsStreamThroughANewConnection) {
  shareMuttersMonitor();
  startSession();
  waitReady();

  const auto screen = startAndSeeTheWindow();
  ASSERT_TRUE(screen) << "no frame showed the window's quadrants\n" << log.all();
  EXPECT_EQ(screen->width(), 1280);
  EXPECT_EQ(screen->height(), 800) << "1440 x 900 scaled to 1280 wide";
  EXPECT_TRUE(log.saw("the desktop portal's session shares"));
  // The session's own reader (the pointer's place), then the preview's.
  EXPECT_EQ(callsOf("OpenPipeWireRemote"), 2u);

  runAwaitable(io, service->stop());
  EXPECT_TRUE(startAndSeeTheWindow()) << "no frame after a second start\n" << log.all();
  EXPECT_EQ(callsOf("OpenPipeWireRemote"), 3u);
  EXPECT_EQ(callsOf("CreateSession"), 1u);
  EXPECT_EQ(callsOf("Start"), 1u);
}

// The desktop closing the session ends the preview; a start before a new
// session is ready fails at once, and asks for one, which the next start
// then reads.
TEST_F(PortalScreenCaptureTest, AClosedSessionEndsThePreviewAndALaterStartReadsTheNewOne) {
  shareMuttersMonitor();
  startSession();
  waitReady();
  ASSERT_TRUE(startAndSeeTheWindow());

  auto proxy = sdbus::createProxy(mock->connection(), portalName, portalPath);
  proxy->callMethod("CloseSession").onInterface(controlInterface);
  ASSERT_TRUE(runUntil(io, [&] { return !service->isActive(); })) << "the capture outlived the session";
  EXPECT_TRUE(log.saw("capture ended"));

  EXPECT_THROW(frames.start(io, *service), ScreenCaptureError);
  EXPECT_FALSE(service->isActive());
  waitReady();
  EXPECT_EQ(callsOf("CreateSession"), 2u);
  EXPECT_TRUE(startAndSeeTheWindow()) << "no frame from the new session\n" << log.all();
}

// Without a session's stream to read, the start fails with the reason and
// no PipeWire connection is asked for.
TEST_F(PortalScreenCaptureTest, WithoutAStreamToReadTheStartFails) {
  auto proxy = sdbus::createProxy(mock->connection(), portalName, portalPath);
  proxy->callMethod("SetStartResponse").onInterface(controlInterface).withArguments(std::uint32_t{1});
  startSession();
  ASSERT_TRUE(runUntil(io, [&] { return portal->isRefused(); })) << log.all();
  EXPECT_NE(startFailure().find("did not allow"), std::string::npos);
  EXPECT_FALSE(service->isActive());
  io.restart();
  io.poll();
  EXPECT_EQ(callsOf("CreateSession"), 1u) << "the refusal stands until the user is asked again";

  // A session allowed without a screen cast.
  service.reset();
  portal.reset();
  proxy->callMethod("SetStartResponse").onInterface(controlInterface).withArguments(std::uint32_t{0});
  startSession(false);
  waitReady();
  EXPECT_NE(startFailure().find("no screen-cast stream"), std::string::npos);
  EXPECT_FALSE(service->isActive());
  EXPECT_EQ(callsOf("OpenPipeWireRemote"), 0u);
}

}  // namespace
}  // namespace glidemate::host
