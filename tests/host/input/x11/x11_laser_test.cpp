// The laser dot on a private X server with openbox: one window that follows
// the pointer above full-screen windows, lets clicks through, hides the
// cursor while it shows, and looks the part (screenshots are saved in the
// test's working folder).
#include <gtest/gtest.h>


#include <asio/io_context.hpp>
#include <cstdlib>

#include "host/input/laser_pointer_service.hpp"
#include "host/input/x11/x11_event_poster.hpp"
#include "host/input/x11/x11_laser_overlay.hpp"
#include "tests/support/compositor.hpp"
#include "tests/support/openbox.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/test_window.hpp"
#include "tests/support/x_pointer.hpp"
#include "tests/support/x_screen.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::runUntil;
using testing::TestWindow;
using testing::XvfbDisplay;

constexpr int half = X11LaserOverlay::size / 2;

// Within `tolerance` in every channel.
::testing::AssertionResult near(std::uint32_t pixel, std::uint32_t expected, int tolerance = 2) {
  using testing::blue, testing::green, testing::red;
  if (std::abs(red(pixel) - red(expected)) <= tolerance && std::abs(green(pixel) - green(expected)) <= tolerance &&
      std::abs(blue(pixel) - blue(expected)) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  char text[64];
  std::snprintf(text, sizeof text, "%06X instead of %06X", pixel, expected);
  return ::testing::AssertionFailure() << text;
}

// A desktop with a window manager and a compositing manager.
class X11LaserTest : public ::testing::Test {
 protected:
  explicit X11LaserTest(bool compositing = true)
      : xvfb({.screenFile = true}),
        compositor(compositing ? std::make_unique<testing::Compositor>(xvfb.name()) : nullptr) {}

  XvfbDisplay xvfb;
  std::unique_ptr<testing::Compositor> compositor;
  testing::Openbox openbox{xvfb.name()};
  asio::io_context io;
  std::shared_ptr<X11DesktopConnection> connection = X11DesktopConnection::open(io.get_executor(), xvfb.name());
  X11EventPoster poster{xvfb.name()};
  std::optional<LaserPointerService> laser{std::in_place, io.get_executor(), poster,
                                           std::make_unique<X11LaserOverlay>(connection)};
  glidemate::testing::XPointer pointer{xvfb.name()};

  // A white full-screen window of another client, under the pointer.
  std::unique_ptr<TestWindow> page() {
    auto window = std::make_unique<TestWindow>(xvfb.name(), TestWindow::Options{.windowClass = {{"viewer", "Viewer"}}});
    window->activate();
    window->requestFullScreen();
    EXPECT_TRUE(window->waitUntil([&] { return window->isActive() && window->isFullScreen(); }));
    return window;
  }

  // The root's children from the bottom up.
  std::vector<Window> stack() {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XQueryTree(connection->display(), connection->root(), &root, &parent, &children, &count);
    std::vector<Window> out(children, children + count);
    if (children != nullptr) XFree(children);
    return out;
  }

  // The laser windows as another client sees them, once the server has
  // taken every request of ours: it serves clients in its own order.
  std::vector<Window> laserWindows() {
    XSync(connection->display(), False);
    connection->flush();
    return testing::windowsOfClass(xvfb.name(), "Glidemate");
  }

  std::pair<int, int> origin(Window w) {
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    XGetGeometry(connection->display(), w, &root, &x, &y, &width, &height, &border, &depth);
    return {x, y};
  }

  bool cursorShowsAt(glidemate::testing::PointerPosition p) {
    return testing::cursorShowsAt(xvfb.screenFile(), p.x, p.y);
  }

  testing::ScreenArea dotAt(glidemate::testing::PointerPosition p) {
    return testing::screenshot(xvfb.name(), p.x - half, p.y - half, X11LaserOverlay::size, X11LaserOverlay::size);
  }
};

TEST_F(X11LaserTest, OneWindowCentredOnThePointerFollowsItAboveFullScreenWindows) {
  const auto below = page();
  pointer.warpTo({400, 300});
  ASSERT_TRUE(runUntil(io, [&] { return cursorShowsAt({400, 300}); }));

  laser->set(LaserColor::red);
  laser->set(LaserColor::red);
  const auto shown = laserWindows();
  ASSERT_EQ(shown.size(), 1U);
  const Window dot = shown[0];
  EXPECT_EQ(origin(dot), std::pair(400 - half, 300 - half));
  EXPECT_TRUE(runUntil(io, [&] { return !cursorShowsAt({400, 300}); }));

  // The dot over a white window: opaque in the middle, glowing around it,
  // the window itself at the corners. The compositing manager paints it in
  // its own time.
  EXPECT_TRUE(runUntil(io, [&] { return near(dotAt({400, 300}).at(half, half), 0xFF3B30); }));
  const auto red = dotAt({400, 300});
  red.savePng("laser-dot-red.png");
  EXPECT_TRUE(near(red.at(half, half), 0xFF3B30));
  EXPECT_TRUE(near(red.at(0, 0), 0xFFFFFF));
  const std::uint32_t glow = red.at(half + 10, half);
  EXPECT_EQ(testing::red(glow), 0xFF);
  EXPECT_LT(testing::green(glow), 0xF0);
  EXPECT_GT(testing::green(glow), 0x3B);

  pointer.warpTo({900, 500});
  EXPECT_TRUE(runUntil(io, [&] { return origin(dot) == std::pair(900 - half, 500 - half); }));

  // Another window going full screen is stacked over everything; the dot
  // comes back on top.
  const auto other = page();
  EXPECT_TRUE(runUntil(io, [&] { return stack().back() == dot; }));

  laser->set(LaserColor::green);
  EXPECT_EQ(laserWindows(), std::vector<Window>{dot});
  EXPECT_TRUE(runUntil(io, [&] { return near(dotAt({900, 500}).at(half, half), 0x33FF4D); }));
  const auto green = dotAt({900, 500});
  green.savePng("laser-dot-green.png");
  EXPECT_TRUE(near(green.at(half, half), 0x33FF4D));
}

TEST_F(X11LaserTest, ClicksGoThroughTheDot) {
  const auto below = page();
  pointer.warpTo({300, 200});
  laser->set(LaserColor::red);
  ASSERT_EQ(laserWindows().size(), 1U);
  for (const EventType type : {EventType::leftMouseDown, EventType::leftMouseUp}) {
    poster.post(MouseEvent{std::nullopt, type, {300, 200}, EventMouseButton::left, {}}, EventTapLocation::hid);
  }
  EXPECT_EQ(below->nextButtonPress(), std::pair(300, 200));
}

TEST_F(X11LaserTest, TheCursorComesBackWhenTheDotGoes) {
  const auto below = page();
  pointer.warpTo({640, 400});
  for (int round = 0; round < 2; ++round) {
    laser->set(LaserColor::green);
    EXPECT_TRUE(runUntil(io, [&] { return !cursorShowsAt({640, 400}); }));
    // Hidden by the phone the first time, gone with the service the second.
    if (round == 0) laser->set(std::nullopt);
    else laser.reset();
    EXPECT_TRUE(laserWindows().empty());
    EXPECT_TRUE(runUntil(io, [&] { return cursorShowsAt({640, 400}); }));
  }
}

// Nothing blends windows with what is below them: the window takes the
// dot's shape instead.
class X11LaserWithoutCompositingTest : public X11LaserTest {
 protected:
  X11LaserWithoutCompositingTest() : X11LaserTest(false) {}
};

TEST_F(X11LaserWithoutCompositingTest, TheWindowIsShapedLikeTheDot) {
  const auto below = page();
  pointer.warpTo({500, 500});
  laser->set(LaserColor::red);
  ASSERT_EQ(laserWindows().size(), 1U);
  EXPECT_TRUE(runUntil(io, [&] { return near(dotAt({500, 500}).at(half, half), 0xFF3B30); }));
  const auto dot = dotAt({500, 500});
  dot.savePng("laser-dot-shaped.png");
  EXPECT_TRUE(near(dot.at(half, half), 0xFF3B30));
  EXPECT_TRUE(near(dot.at(half + 9, half), 0xFFFFFF));
  EXPECT_TRUE(near(dot.at(0, 0), 0xFFFFFF));
}

}  // namespace
}  // namespace glidemate::host
