// The wlroots path against a real headless sway: the input services post
// through its virtual pointer and keyboard, and a Wayland window of ours
// prints what it receives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <linux/input-event-codes.h>
#include <algorithm>
#include <cmath>
#include <sstream>
#include <thread>

#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/input_service.hpp"
#include "host/input/keystroke_service.hpp"
#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"
#include "host/input/scroll_service.hpp"
#include "host/wlroots/wlroots_virtual_input.hpp"
#include "tests/host/input/manual_frame_clock.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_mutter.hpp"
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
using ::testing::UnorderedElementsAre;

constexpr auto patience = 30000ms;

class SwayTest : public ::testing::Test {
 protected:
  SwayTest() { sway.adoptEnvironment(); }

  void startSession() {
    session = std::make_unique<WlrootsVirtualInput>(
        io.get_executor(), logger, WlrootsVirtualInput::Options{.display = {}, .retryInterval = 10ms});
    poster = std::make_unique<RemoteDesktopEventPoster>(*session, &layout, logger);
    ASSERT_TRUE(runUntil(io, [&] { return session->isReady(); })) << "no virtual input: " << logger.all();
  }

  // Starts the window, and waits until sway has shown it with the
  // keyboard's focus.
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

  // The next line the window printed that starts with `prefix`.
  std::string next(const std::string& prefix) {
    io.poll();
    const std::string line = client->readLineContaining(prefix, patience);
    return line.rfind(prefix, 0) == 0 ? line : "";
  }

  // The lines of the window's next pointer frame that has an axis in it.
  std::vector<std::string> nextAxisFrame() {
    io.poll();
    std::vector<std::string> lines;
    bool axis = false;
    for (;;) {
      const std::string line = client->readLineContaining("", patience);
      if (line.empty()) return lines;
      if (line == "frame") {
        if (axis) return lines;
        lines.clear();
        continue;
      }
      axis = axis || line.rfind("axis", 0) == 0;
      lines.push_back(line);
    }
  }

  // Where the window last saw the pointer once everything sent has reached it.
  ScreenPoint settledPosition() { return glidemate::testing::settledPointer(*session, [&] { io.poll(); }, *client); }

  // Until the pointer has moved once, the window may not have it; it is
  // there once a step of one point moves the pointer by exactly one point.
  void bringPointerIn(InputService& input) {
    ScreenPoint before{-1, -1};
    for (int attempt = 0; attempt < 50; ++attempt) {
      const double step = attempt % 2 == 0 ? 1 : -1;  // never stuck at an edge
      input.move(step, 0);
      const ScreenPoint after = settledPosition();
      if (before.x >= 0 && after == ScreenPoint{before.x + step, before.y}) return;
      before = after;
    }
    FAIL() << "the pointer never moved exactly in the window";
  }

  HeadlessSway sway;
  asio::io_context io;
  CollectingLogger logger;
  VirtualKeyboardLayout layout;
  std::unique_ptr<WlrootsVirtualInput> session;
  std::unique_ptr<RemoteDesktopEventPoster> poster;
  std::unique_ptr<ChildProcess> client;
  std::chrono::steady_clock::time_point now{100s};
};

TEST_F(SwayTest, TheProbeFindsTheVirtualInputManagersOnlyWhereTheyAre) {
  EXPECT_TRUE(offersVirtualInput(sway.waylandDisplay(), 5s));
  EXPECT_FALSE(offersVirtualInput("wayland-nobody-serves", 5s));
}

TEST_F(SwayTest, MovesClicksAndScrollsReachAWindowExactly) {
  startSession();
  startClient();
  EXPECT_EQ(poster->activeDisplayBounds(), (std::vector<ScreenRect>{{0, 0, 1440, 900}}));
  EXPECT_THAT(poster->mainDisplayRefreshRate(), ::testing::Optional(::testing::Gt(0.0)));

  InputService input(*poster, [&] { return now; });
  bringPointerIn(input);
  input.move(10, 10);
  const ScreenPoint from = settledPosition();
  input.move(100, 50);
  EXPECT_EQ(settledPosition(), (ScreenPoint{from.x + 100, from.y + 50}));
  input.move(5000, -20);
  const ScreenPoint edge = settledPosition();
  EXPECT_EQ(edge.y, from.y + 30);
  EXPECT_GT(edge.x, 1438.99) << "held at the right edge";
  EXPECT_LT(edge.x, 1440);
  input.move(-30, 0);
  EXPECT_NEAR(settledPosition().x, edge.x - 30, 0.01) << "the phone's move counts from the edge";

  input.button(MouseButton::left, true);
  input.button(MouseButton::left, false);
  input.button(MouseButton::right, true);
  input.button(MouseButton::right, false);
  EXPECT_EQ(next("button"), "button 272 down");
  EXPECT_EQ(next("button"), "button 272 up");
  EXPECT_EQ(next("button"), "button 273 down");
  EXPECT_EQ(next("button"), "button 273 up");

  auto frames = std::make_shared<testing::ManualFrameClock>();
  auto scroll = ScrollService::create(*poster, io.get_executor(), frames);
  scroll->scroll(ScrollGesturePhase::began, 0, 0);
  scroll->scroll(ScrollGesturePhase::changed, 0, 12);
  scroll->scroll(ScrollGesturePhase::changed, -4, 8);
  scroll->scroll(ScrollGesturePhase::ended, 0, 0);
  EXPECT_THAT(nextAxisFrame(), UnorderedElementsAre("axis-source finger", "axis vertical -12"));
  EXPECT_THAT(nextAxisFrame(), UnorderedElementsAre("axis-source finger", "axis vertical -8", "axis horizontal 4"));
  const auto end = nextAxisFrame();
  EXPECT_THAT(end, ::testing::Contains("axis-stop vertical"));
  EXPECT_THAT(end, ::testing::Contains("axis-source finger"));
}

// A compositor that reads nothing for a while: the socket fills, and the
// motion sent meanwhile arrives in the end, summed, instead of breaking the
// connection when libwayland's own buffer overflows.
TEST_F(SwayTest, MotionWaitsForACompositorThatFellBehind) {
  startSession();
  startClient();
  InputService input(*poster, [&] { return now; });
  bringPointerIn(input);
  input.move(10, 0);
  const ScreenPoint from = settledPosition();
  ASSERT_LT(from.x, 1000);

  sway.freeze(true);
  constexpr int steps = 20000;  // of 1/64 point each, far more than the socket holds
  for (int i = 0; i < steps; ++i) {
    session->pointerMotionRelative(1.0 / 64, 0);
    io.poll();
  }
  sway.freeze(false);
  // The connection is written as the socket drains, while the window's
  // lines are read here.
  auto work = asio::make_work_guard(io);
  std::thread pump([&] {
    io.restart();
    io.run();
  });
  const std::string expected = "motion " + std::to_string(static_cast<int>(from.x) + steps / 64) + ".5";
  std::string line, last;
  do {
    line = client->readLineContaining("motion", patience);
    if (!line.empty()) last = line;
  } while (!line.empty() && line.rfind(expected, 0) != 0);
  work.reset();
  io.stop();
  pump.join();
  EXPECT_FALSE(line.empty()) << "the summed motion never arrived: " << last << " from " << from.x << "\n"
                             << logger.all();
  EXPECT_EQ(logger.count("went away") + logger.count("broke the connection"), 0) << logger.all();
}

TEST_F(SwayTest, EveryCharacterArrivesAsTextAndChordsKeepTheirModifiers) {
  startSession();
  startClient();
  DesktopShortcutGestureBackend gestures(*poster);
  KeystrokeService keystrokes(*poster, gestures);
  keystrokes.type("aé漢👋!A");
  for (const char* text : {"text a", "text é", "text 漢", "text 👋", "text !", "text A"}) EXPECT_EQ(next("text"), text);

  // More characters the US layout lacks than it has spare keys: the first
  // ones' keys are given to later ones, and come back when typed again.
  const std::string typed = "一二三四五六七八九十百千万丁丈上下不与丐丑专且丕世丘丙业丛东é漢";
  keystrokes.type(typed);
  std::string arrived;
  while (arrived.size() < typed.size()) {
    const std::string line = next("text ");
    ASSERT_FALSE(line.empty()) << "after " << arrived;
    arrived += line.substr(5);
  }
  EXPECT_EQ(arrived, typed);

  keystrokes.key(KeyboardKey::arrowLeft, KeyModifiers::of({KeyModifiers::command(), KeyModifiers::shift()}));
  EXPECT_EQ(next("key Left"), "key Left down ctrl+shift");
  EXPECT_EQ(next("key Left"), "key Left up ctrl+shift");
  keystrokes.type("b");
  EXPECT_EQ(next("key b"), "key b down none") << "the chord's modifiers were let go";
}

TEST_F(SwayTest, InputIsDroppedWhileSwayIsGoneAndFlowsWhenItIsBack) {
  startSession();
  session->keyboardKeycode(KEY_LEFTCTRL, true);  // held as sway goes
  io.poll();
  sway.stopSway();
  ASSERT_TRUE(runUntil(io, [&] { return !session->isReady(); }));
  EXPECT_EQ(logger.count("went away"), 1) << logger.all();

  InputService input(*poster, [&] { return now; });
  input.move(10, 10);
  input.move(10, 10);
  EXPECT_EQ(logger.count("input is dropped until it is"), 2) << "once from the session, once from the poster\n"
                                                             << logger.all();

  sway.startSway();
  ASSERT_TRUE(runUntil(io, [&] { return session->isReady(); })) << logger.all();
  EXPECT_EQ(logger.count("input goes to it again"), 1) << logger.all();
  startClient();
  now += 1s;
  bringPointerIn(input);
  input.move(30, 40);
  const ScreenPoint from = settledPosition();
  input.move(30, 40);
  EXPECT_EQ(settledPosition(), (ScreenPoint{from.x + 30, from.y + 40}));

  DesktopShortcutGestureBackend gestures(*poster);
  KeystrokeService keystrokes(*poster, gestures);
  keystrokes.type("b");
  EXPECT_EQ(next("key b"), "key b down none") << "the new keyboard holds nothing down";
}

// GNOME's compositor has neither manager.
TEST(WlrootsElsewhere, ACompositorWithoutVirtualInputIsToldOnceAndNeverUsed) {
  glidemate::testing::HeadlessMutter mutter({.keyboardLayout = {}, .pipewire = false});
  mutter.adoptEnvironment();
  EXPECT_FALSE(offersVirtualInput("wayland-0", 5s));

  asio::io_context io;
  CollectingLogger logger;
  VirtualKeyboardLayout layout;
  WlrootsVirtualInput session(io.get_executor(), logger, {.display = "wayland-0", .retryInterval = 0ms});
  RemoteDesktopEventPoster poster(session, &layout, logger);
  ASSERT_TRUE(runUntil(io, [&] { return logger.count("offers no virtual pointer and keyboard") > 0; }))
      << logger.all();
  auto now = std::chrono::steady_clock::time_point{100s};
  InputService input(poster, [&] { return now; });
  for (int i = 0; i < 3; ++i) {
    input.move(10, 10);  // asks again, and is refused again
    io.restart();
    io.run_for(100ms);
  }
  EXPECT_FALSE(session.isReady());
  EXPECT_EQ(logger.count("offers no virtual pointer and keyboard"), 1) << logger.all();
}

}  // namespace
}  // namespace glidemate::host
