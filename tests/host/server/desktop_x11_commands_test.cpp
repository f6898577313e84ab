// A phone driving the desktop services of a real X desktop through the host
// server: a private Xvfb, openbox, and windows of another client.
#include <gtest/gtest.h>
#include <unistd.h>

#include <X11/keysym.h>

#include <filesystem>

#include "host/input/x11/x11_event_poster.hpp"
#include "host/input/x11/x11_laser_overlay.hpp"
#include "host/server/host_server.hpp"
#include "host/services/presentation/x11/x11_presentation_backend.hpp"
#include "tests/host/server/paired_phone.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/test_window.hpp"
#include "tests/support/x_pointer.hpp"
#include "tests/support/x_screen.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runUntil;
using testing::TestWindow;

class DesktopX11CommandsTest : public ::testing::Test {
 protected:
  testing::XvfbDisplay xvfb{{.screenFile = true}};
  testing::Openbox openbox{xvfb.name()};
  asio::io_context io;
  glidemate::testing::MemoryKeychain hostKeys;
  std::filesystem::path settings = std::filesystem::temp_directory_path() /
                                   ("glidemate-desktop-x11-" + std::to_string(getpid()) + ".json");
  UserDefaults defaults{settings};
  NullLogger logger;
  X11EventPoster poster{xvfb.name()};
  std::shared_ptr<X11DesktopConnection> connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  std::shared_ptr<HostServer> server = HostServer::make(
      io.get_executor(),
      HostServer::Configuration{
          .keys = hostKeys, .defaults = defaults, .logger = logger, .hostName = "Desk", .poster = &poster},
      services());
  glidemate::testing::PairedPhone phone{io, *server};
  std::uint64_t pings = 0;

  HostServices services() {
    HostServices s;
    s.presentation = std::make_unique<PresentationService>(std::make_unique<X11PresentationBackend>(connection));
    s.laser = std::make_unique<LaserPointerService>(io.get_executor(), poster,
                                                    std::make_unique<X11LaserOverlay>(connection));
    return s;
  }

  std::unique_ptr<TestWindow> front(TestWindow::Options options) {
    auto window = std::make_unique<TestWindow>(xvfb.name(), options);
    window->activate();
    window->requestFullScreen();
    EXPECT_TRUE(window->waitUntil([&] { return window->isActive() && window->isFullScreen(); }));
    return window;
  }

  // What came back for `command`, up to the pong of a ping sent after it.
  std::vector<Message> answer(Command command) {
    const std::size_t before = phone.received.size();
    const std::uint64_t ping = ++pings;
    phone.send(Message::Command{std::move(command)});
    phone.send(Message::Ping{ping});
    EXPECT_TRUE(runUntil(io, [&] { return phone.received.back() == Message{Message::Pong{ping}}; }));
    return {phone.received.begin() + static_cast<std::ptrdiff_t>(before), phone.received.end() - 1};
  }

  // The laser windows as another client sees them, once the server has
  // taken every request of the host's: it serves clients in its own order.
  std::size_t dots() {
    XSync(connection->display(), False);
    connection->flush();
    return testing::windowsOfClass(xvfb.name(), "Glidemate").size();
  }

  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
    std::filesystem::remove(settings);
  }
};

TEST_F(DesktopX11CommandsTest, NextReachesAFullScreenGoogleSlidesWindowAsTheRightKey) {
  const auto slides =
      front({.windowClass = {{"google-chrome", "Google-chrome"}}, .netWmName = "Quarterly review - Google Slides"});
  const Message playing = Message::Event{Event::Presentation{{"Google Slides", true, 0, 0, "", false}}};
  EXPECT_EQ(answer(Command::GetPresentation{}), std::vector<Message>{playing});
  EXPECT_EQ(answer(Command::Presentation{PresentationAction::next}), std::vector<Message>{playing});
  EXPECT_EQ(slides->nextKeyPress(), XK_Right);
}

TEST_F(DesktopX11CommandsTest, APhoneTogglingTheLaserLeavesOneDotAndTheCursorWhenItGoes) {
  const auto page = front({.windowClass = {{"viewer", "Viewer"}}});
  glidemate::testing::XPointer pointer(xvfb.name());
  pointer.warpTo({600, 400});
  const auto cursorShows = [&] { return testing::cursorShowsAt(xvfb.screenFile(), 600, 400); };
  ASSERT_TRUE(runUntil(io, cursorShows));

  for (int i = 0; i < 1000; ++i) {
    const std::optional<LaserColor> color =
        i % 2 == 0 ? std::optional(i % 4 == 0 ? LaserColor::red : LaserColor::green) : std::nullopt;
    phone.send(Message::Command{Command::SetLaserPointer{color}});
  }
  EXPECT_TRUE(answer(Command::SetLaserPointer{LaserColor::green}).empty());
  EXPECT_EQ(dots(), 1U);
  EXPECT_TRUE(runUntil(io, [&] { return !cursorShows(); }));

  phone.session->close();
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().empty(); }));
  EXPECT_EQ(dots(), 0U);
  EXPECT_TRUE(runUntil(io, cursorShows));
}

}  // namespace
}  // namespace glidemate::host
