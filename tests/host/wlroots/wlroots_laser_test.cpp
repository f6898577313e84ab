// The laser dot on a real headless sway: a layer-shell overlay over the
// test window, seen in screencopy captures, following the pointer the
// virtual pointer tracks while the dot shows.
#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <asio/io_context.hpp>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "host/input/input_service.hpp"
#include "host/input/laser_pointer_service.hpp"
#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"
#include "host/services/screen_preview/wlroots/wlroots_screen_capture.hpp"
#include "host/wlroots/wlroots_laser_overlay.hpp"
#include "host/wlroots/wlroots_virtual_input.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_sway.hpp"
#include "tests/support/wayland/settled_pointer.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::HeadlessSway;
using glidemate::testing::runUntil;

constexpr auto patience = 30000ms;
constexpr std::uint32_t red = 0xFF3B30, green = 0x33FF4D;
// The window's quadrants.
constexpr std::uint32_t greenQuadrant = 0x00FF00, blueQuadrant = 0x0000FF, whiteQuadrant = 0xFFFFFF;

bool near(std::optional<std::uint32_t> colour, std::uint32_t expected) {
  if (!colour) return false;
  for (const int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((*colour >> shift) & 0xFF) - static_cast<int>((expected >> shift) & 0xFF)) > 2) {
      return false;
    }
  }
  return true;
}

class SwayLaserTest : public ::testing::Test {
 protected:
  SwayLaserTest() {
    sway.adoptEnvironment();
    // The window gets the keyboard's focus once the seat has a keyboard.
    startSession();
    startClient();
    capture.start(logger);
  }

  // Starts the window, and waits until sway shows it with the keyboard's
  // focus (which settledPointer() needs).
  void startClient() {
    client = glidemate::testing::startWaylandTestClient(sway);
    bool presented = false, focused = false;
    while (!presented || !focused) {
      const std::string line = client->readLineContaining("", patience);
      ASSERT_FALSE(line.empty()) << "the window was not shown with the keyboard's focus";
      presented = presented || line == "presented";
      focused = focused || line == "keyboard-enter";
    }
  }

  void startSession() {
    session = std::make_unique<WlrootsVirtualInput>(
        io.get_executor(), logger, WlrootsVirtualInput::Options{.display = {}, .retryInterval = 10ms});
    poster = std::make_unique<RemoteDesktopEventPoster>(*session, &layout, logger);
    laser.emplace(io.get_executor(), *poster,
                  std::make_unique<WlrootsLaserOverlay>(io.get_executor(), logger, WlrootsLaserOverlay::Options{}));
    ASSERT_TRUE(runUntil(io, [&] { return session->isReady() && session->monitors(); })) << "no virtual input";
  }

  // The colour sway shows at a point of its output, as 0xRRGGBB.
  std::optional<std::uint32_t> colourAt(ScreenPoint p) {
    const auto frame = capture.grab({static_cast<int>(p.x), static_cast<int>(p.y), 1, 1});
    if (!frame) return std::nullopt;
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, frame->pixels, 4);
    return pixel & 0xFFFFFF;
  }

  // Whether the dot shows centred on `p` in `colour`: its opaque middle to
  // the left of and above the point (the pointer's own square is drawn
  // below and to the right of it).
  bool dotShows(ScreenPoint p, std::uint32_t colour) {
    return near(colourAt({p.x - 5, p.y}), colour) && near(colourAt({p.x, p.y - 5}), colour);
  }

  // Where the window last saw the pointer once everything sent has reached it.
  ScreenPoint settledPointer() { return glidemate::testing::settledPointer(*session, [&] { io.poll(); }, *client); }

  HeadlessSway sway;
  std::unique_ptr<ChildProcess> client;
  asio::io_context io;
  CollectingLogger logger;
  VirtualKeyboardLayout layout;
  std::unique_ptr<WlrootsVirtualInput> session;
  std::unique_ptr<RemoteDesktopEventPoster> poster;
  std::optional<LaserPointerService> laser;
  WlrootsScreenCapture capture;
  std::chrono::steady_clock::time_point now{100s};
};

TEST_F(SwayLaserTest, TheDotShowsWhereTheHostPutThePointerFollowsItAndLetsClicksThrough) {
  InputService input(*poster, [&] { return now; });
  input.move(300, 600);
  const ScreenPoint believed = input.position();

  laser->set(LaserColor::red);
  // The pointer is put where the host last put it, whatever sway made of
  // the relative moves before, and the dot is drawn there.
  EXPECT_EQ(poster->cursorLocation(), believed);
  EXPECT_EQ(settledPointer(), believed);
  EXPECT_TRUE(runUntil(io, [&] { return dotShows(believed, red); }, patience));
  EXPECT_TRUE(near(colourAt({believed.x - 30, believed.y}), blueQuadrant)) << "the window, beyond the glow";

  // The phone's moves now place the pointer exactly, across quadrants and
  // clamped to the output; the dot follows.
  now += 1s;
  input.move(700, -400);
  const ScreenPoint moved{believed.x + 700, believed.y - 400};
  EXPECT_EQ(settledPointer(), moved);
  EXPECT_TRUE(runUntil(io, [&] { return dotShows(moved, red); }, patience));
  EXPECT_TRUE(near(colourAt({believed.x - 5, believed.y}), blueQuadrant)) << "the dot left its old place";
  input.move(5000, 0);
  const ScreenPoint edge{HeadlessSway::width - 1, moved.y};
  EXPECT_EQ(settledPointer(), edge);
  EXPECT_TRUE(runUntil(io, [&] { return dotShows(edge, red); }, patience));

  laser->set(LaserColor::green);
  EXPECT_TRUE(runUntil(io, [&] { return dotShows(edge, green); }, patience));

  // The dot takes no pointer: moved within it, the pointer stays on the
  // window under it, which gets the clicks.
  input.move(-3, 0);
  EXPECT_EQ(settledPointer(), (ScreenPoint{edge.x - 3, edge.y}));
  input.button(MouseButton::left, true);
  input.button(MouseButton::left, false);
  io.poll();
  EXPECT_EQ(client->readLineContaining("button", patience), "button 272 down");
  EXPECT_EQ(client->readLineContaining("button", patience), "button 272 up");

  laser->set(std::nullopt);
  EXPECT_TRUE(runUntil(io, [&] { return near(colourAt({edge.x - 5, edge.y}), greenQuadrant); }, patience))
      << "the dot is still shown";
  EXPECT_EQ(session->pointerPosition(), std::nullopt) << "the place is no longer known once the dot is gone";
}

TEST_F(SwayLaserTest, WithoutAPlaceTheDotStartsMidOutputAndOutlivesSway) {
  laser->set(LaserColor::green);
  const ScreenPoint middle{HeadlessSway::width / 2.0, HeadlessSway::height / 2.0};
  EXPECT_EQ(settledPointer(), middle);
  // Where the window's quadrants meet.
  ASSERT_TRUE(runUntil(io, [&] { return dotShows(middle, green); }, patience));
  ASSERT_TRUE(near(colourAt({middle.x + 30, middle.y + 30}), whiteQuadrant));

  sway.stopSway();
  ASSERT_TRUE(runUntil(io, [&] { return logger.saw("laser: The Wayland compositor went away"); }, patience));
  InputService input(*poster, [&] { return now; });
  input.move(10, 10);
  for (int i = 0; i < 10; ++i) io.poll();
  laser->set(LaserColor::red);

  // Once sway is back, the dot that stayed on comes back by itself, in the
  // colour asked for meanwhile.
  sway.startSway();
  ASSERT_TRUE(runUntil(io, [&] { return session->isReady(); }, patience));
  startClient();
  capture.stop();
  capture.start(logger);
  const auto place = poster->cursorLocation();
  ASSERT_TRUE(place.has_value());
  EXPECT_TRUE(runUntil(io, [&] { return dotShows(*place, red); }, patience));
}

// A second output to the right: the dot goes onto the output that holds
// the pointer, so across the seam nothing of it is left on the first.
TEST_F(SwayLaserTest, TheDotMovesToTheOutputThatHoldsThePointer) {
  sway.command("create_output");
  ASSERT_TRUE(runUntil(io, [&] { return session->monitors() && session->monitors()->size() == 2; }, patience));
  ASSERT_EQ(session->monitors()->at(1).x, HeadlessSway::width);
  InputService input(*poster, [&] { return now; });
  laser->set(LaserColor::red);
  const auto start = poster->cursorLocation();
  ASSERT_EQ(start, (ScreenPoint{HeadlessSway::width / 2.0, HeadlessSway::height / 2.0}));
  const ScreenPoint seam{HeadlessSway::width, HeadlessSway::height / 2.0};
  now += 1s;
  input.move(seam.x - 5 - start->x, 0);
  EXPECT_TRUE(runUntil(io, [&] { return near(colourAt({seam.x - 10, seam.y}), red); }, patience));

  input.move(10, 0);
  EXPECT_EQ(session->pointerPosition(), (ScreenPoint{seam.x + 5, seam.y}));
  EXPECT_TRUE(runUntil(io, [&] { return near(colourAt({seam.x - 10, seam.y}), whiteQuadrant); }, patience))
      << "the dot's left part stayed on the first output";

  input.move(-10, 0);
  EXPECT_TRUE(runUntil(io, [&] { return near(colourAt({seam.x - 10, seam.y}), red); }, patience))
      << "the dot did not come back to the first output";
}

}  // namespace
}  // namespace glidemate::host

