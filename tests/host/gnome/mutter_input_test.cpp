// The GNOME path against a real headless mutter: the input services post
// through its remote-desktop session, and a Wayland window of ours prints
// what it receives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <linux/input-event-codes.h>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "host/gnome/mutter_remote_desktop.hpp"
#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/input_service.hpp"
#include "host/input/keystroke_service.hpp"
#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"
#include "host/input/remote_desktop/xkb_keyboard_layout.hpp"
#include "host/input/scroll_service.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/host/input/manual_frame_clock.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/wayland/headless_mutter.hpp"
#include "tests/support/wayland/settled_pointer.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::ChildProcess;
using glidemate::testing::HeadlessMutter;
using glidemate::testing::runUntil;

constexpr auto patience = 30000ms;

class MutterTest : public ::testing::Test {
 protected:
  explicit MutterTest(HeadlessMutter::Options options = {})
      : mutter(options), connection(DBusConnection::openAddress(io.get_executor(), mutter.sessionBus().address())) {
    mutter.adoptEnvironment();
  }

  void startSession(const KeyboardLayout* layout = nullptr) {
    session = std::make_unique<MutterRemoteDesktop>(io.get_executor(), connection, logger);
    poster = std::make_unique<RemoteDesktopEventPoster>(*session, layout, logger);
    ASSERT_TRUE(runUntil(io, [&] { return session->isReady(); })) << "no session: " << logger.all();
  }

  // Starts the window once the session runs, and waits until mutter has
  // shown it and given it the keyboard.
  void startClient() {
    client = glidemate::testing::startWaylandTestClient(mutter);
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
    // Let pending D-Bus sends go out first.
    io.poll();
    const std::string line = client->readLineContaining(prefix, patience);
    return line.rfind(prefix, 0) == 0 ? line : "";
  }

  // Where the window last saw the pointer once everything sent has reached
  // it (mutter hands motion on only at its next frame).
  ScreenPoint settledPosition() { return glidemate::testing::settledPointer(*session, [&] { io.poll(); }, *client); }

  // mutter tells a window that appeared under a still pointer about it only
  // after the pointer has moved; until then moves and clicks go nowhere.
  // The window also grows into place over its first frames, its pointer
  // coordinates scaled meanwhile: it is there once a step of one point
  // moves the pointer by exactly one point in it.
  void bringPointerIn(InputService& input) {
    ScreenPoint before{-1, -1};
    for (int attempt = 0; attempt < 200; ++attempt) {
      const double step = attempt % 2 == 0 ? 1 : -1;  // never stuck at an edge
      input.move(step, 0);
      const ScreenPoint after = settledPosition();
      if (before.x >= 0 && after == ScreenPoint{before.x + step, before.y} && after.x == std::floor(after.x) &&
          after.y == std::floor(after.y)) {
        return;
      }
      before = after;
    }
    FAIL() << "the pointer never moved exactly in the window";
  }

  HeadlessMutter mutter;
  asio::io_context io;
  std::shared_ptr<DBusConnection> connection;
  CollectingLogger logger;
  std::unique_ptr<MutterRemoteDesktop> session;
  std::unique_ptr<RemoteDesktopEventPoster> poster;
  std::unique_ptr<ChildProcess> client;
  std::chrono::steady_clock::time_point now{100s};
};

TEST_F(MutterTest, MovesClicksAndScrollsReachAWindowExactly) {
  startSession();
  startClient();
  ASSERT_TRUE(runUntil(io, [&] { return session->pointerPosition().has_value(); }))
      << "the screen-cast stream never said where the pointer is\n" << logger.all();
  EXPECT_EQ(poster->activeDisplayBounds(), (std::vector<ScreenRect>{{0, 0, 1440, 900}}));

  InputService input(*poster, [&] { return now; });
  bringPointerIn(input);
  input.move(10, 10);
  const ScreenPoint from = settledPosition();
  input.move(100, 50);
  EXPECT_EQ(settledPosition(), (ScreenPoint{from.x + 100, from.y + 50}));
  input.move(5000, -20);
  EXPECT_EQ(settledPosition(), (ScreenPoint{1439, from.y + 30})) << "held one point inside the edge";

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
  // mutter carries scroll distances as single-precision tenths.
  const auto axis = [&](const std::string& expectedAxis, double expected) {
    const std::string line = next("axis ");
    std::istringstream in(line);
    std::string word, name;
    double value = 0;
    in >> word >> name >> value;
    EXPECT_EQ(name, expectedAxis) << line;
    EXPECT_NEAR(value, expected, 0.05) << line;
  };
  EXPECT_EQ(next("axis-source"), "axis-source finger");
  axis("vertical", -12);
  EXPECT_EQ(next("axis-source"), "axis-source finger");
  axis("horizontal", 4);
  axis("vertical", -8);
  // The end of the gesture: mutter 43 drops the finish mark on its way to
  // clients, which then see an empty finger frame; later ones an axis stop.
  EXPECT_EQ(next("axis-source"), "axis-source finger");
  const std::string end = client->readLineContaining("", patience);
  EXPECT_TRUE(end == "frame" || end == "axis-stop vertical") << end;
}

class MutterFrenchKeyboardTest : public MutterTest {
 protected:
  MutterFrenchKeyboardTest() : MutterTest(HeadlessMutter::Options{.keyboardLayout = "fr"}) {}
};

TEST_F(MutterFrenchKeyboardTest, TextArrivesWhetherTheLayoutHasItOrNotAndChordsKeepTheirModifiers) {
  const auto french = XkbKeyboardLayout::fromNames("fr");
  startSession(french.get());
  startClient();

  DesktopShortcutGestureBackend gestures(*poster);
  KeystrokeService keystrokes(*poster, gestures);
  keystrokes.type("aé漢👋!");
  for (const char* text : {"text a", "text é", "text 漢", "text 👋", "text !"}) EXPECT_EQ(next("text"), text);

  keystrokes.key(KeyboardKey::arrowLeft, KeyModifiers::of({KeyModifiers::command(), KeyModifiers::shift()}));
  EXPECT_EQ(next("key Left"), "key Left down ctrl+shift");
  EXPECT_EQ(next("key Left"), "key Left up ctrl+shift");
}

class MutterWithoutPipeWireTest : public MutterTest {
 protected:
  MutterWithoutPipeWireTest() : MutterTest(HeadlessMutter::Options{.keyboardLayout = {}, .pipewire = false}) {}
};

TEST_F(MutterWithoutPipeWireTest, TheSessionRunsWithoutAStreamAndMovesRelatively) {
  startSession();
  startClient();
  EXPECT_TRUE(logger.saw("without a screen-cast stream")) << logger.all();
  InputService input(*poster, [&] { return now; });
  bringPointerIn(input);
  input.move(10, 10);
  const ScreenPoint from = settledPosition();
  input.move(100, 50);
  EXPECT_EQ(settledPosition(), (ScreenPoint{from.x + 100, from.y + 50}));
}

TEST_F(MutterTest, InputWaitsForANewSessionWhenMutterComesBack) {
  startSession();
  mutter.stopMutter();
  ASSERT_TRUE(runUntil(io, [&] { return !session->isReady(); }));
  EXPECT_TRUE(logger.saw("mutter left the session bus")) << logger.all();

  InputService input(*poster, [&] { return now; });
  input.move(10, 10);
  input.move(10, 10);
  EXPECT_EQ(logger.count("input is dropped"), 1U);

  mutter.startMutter();
  ASSERT_TRUE(runUntil(io, [&] { return session->isReady(); })) << logger.all();
  startClient();
  now += 1s;
  bringPointerIn(input);
  input.move(30, 40);
  const ScreenPoint from = settledPosition();
  input.move(30, 40);
  EXPECT_EQ(settledPosition(), (ScreenPoint{from.x + 30, from.y + 40}));
}

}  // namespace
}  // namespace glidemate::host
