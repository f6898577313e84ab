#include "host/input/x11/x11_event_poster.hpp"

#include <X11/XF86keysym.h>
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <memory>

#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/input_service.hpp"
#include "host/input/keystroke_service.hpp"
#include "host/input/virtual_key.hpp"
#include "host/x11/x11_error.hpp"
#include "kit/input/scroll_event.hpp"
#include "tests/support/thrown.hpp"
#include "x_observer.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using testing::XObserver;
using testing::XvfbDisplay;

// One X server for the whole suite; each test has its own clients.
class X11EventPosterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new XvfbDisplay(); }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }

  static ScrollWheelEvent scroll(ScrollPhaseField phase, MomentumPhaseField momentum, double vertical,
                                 double horizontal) {
    ScrollWheelEvent e;
    e.wheel1 = static_cast<std::int32_t>(vertical);
    e.wheel2 = static_cast<std::int32_t>(horizontal);
    e.integerFields.set(EventField::scrollWheelEventIsContinuous, 1);
    e.integerFields.set(EventField::scrollWheelEventScrollPhase, static_cast<std::int64_t>(phase));
    e.integerFields.set(EventField::scrollWheelEventMomentumPhase, static_cast<std::int64_t>(momentum));
    e.doubleFields.set(EventField::scrollWheelEventPointDeltaAxis1, vertical);
    e.doubleFields.set(EventField::scrollWheelEventPointDeltaAxis2, horizontal);
    return e;
  }
  // The keysym of a key event as the receiving client reads it.
  static KeySym keysymOf(XEvent& event) { return XLookupKeysym(&event.xkey, 0); }
  std::vector<unsigned> wheelButtons(std::size_t count) {
    std::vector<unsigned> buttons;
    while (buttons.size() < count) {
      auto e = observer.waitForType(ButtonPress);
      if (!e) break;
      buttons.push_back(e->xbutton.button);
    }
    return buttons;
  }

  static XvfbDisplay* server;
  XObserver observer{server->name()};
  std::unique_ptr<X11EventPoster> poster = std::make_unique<X11EventPoster>(server->name());
};

XvfbDisplay* X11EventPosterTest::server = nullptr;

TEST_F(X11EventPosterTest, AnUnknownDisplayIsAClearError) {
  EXPECT_EQ(glidemate::testing::thrown<X11Error>([] { X11EventPoster("nohost:99"); }),
            X11Error::cannotOpenDisplay("nohost:99"));
}

TEST_F(X11EventPosterTest, ReportsTheScreenAsTheOneDisplay) {
  EXPECT_EQ(poster->activeDisplayBounds(),
            (std::vector<ScreenRect>{{0, 0, XvfbDisplay::width, XvfbDisplay::height}}));
}

TEST_F(X11EventPosterTest, MovesLandWhereExpectedAndClampAtTheLastPixel) {
  poster->post(MouseEvent{std::nullopt, EventType::mouseMoved, {100, 200}, EventMouseButton::left, {}},
               EventTapLocation::hid);
  EXPECT_EQ(poster->cursorLocation(), (ScreenPoint{100, 200}));

  InputService input(*poster, [] { return std::chrono::steady_clock::time_point{}; });
  input.move(30.4, -50);
  EXPECT_EQ(poster->cursorLocation(), (ScreenPoint{130, 150}));
  input.move(5000, 5000);
  EXPECT_EQ(poster->cursorLocation(), (ScreenPoint{XvfbDisplay::width - 1, XvfbDisplay::height - 1}));

  // Another client sees the same.
  Window root = 0, child = 0;
  int x = 0, y = 0, wx = 0, wy = 0;
  unsigned mask = 0;
  XQueryPointer(observer.display(), DefaultRootWindow(observer.display()), &root, &child, &x, &y, &wx, &wy, &mask);
  EXPECT_EQ(x, XvfbDisplay::width - 1);
  EXPECT_EQ(y, XvfbDisplay::height - 1);

  input.move(-1e5, -1e5);
  EXPECT_EQ(poster->cursorLocation(), (ScreenPoint{0, 0}));
}

TEST_F(X11EventPosterTest, PressesReachTheWindowAsTheirButtons) {
  InputService input(*poster, [] { return std::chrono::steady_clock::time_point{}; });
  input.move(-1e5, -1e5);
  input.move(40, 60);
  for (const auto& [button, xButton] : {std::pair{MouseButton::left, 1u}, std::pair{MouseButton::right, 3u}}) {
    input.button(button, true);
    input.button(button, false);
    auto press = observer.waitForType(ButtonPress);
    ASSERT_TRUE(press.has_value());
    EXPECT_EQ(press->xbutton.button, xButton);
    EXPECT_EQ(press->xbutton.x, 40);
    EXPECT_EQ(press->xbutton.y, 60);
    auto release = observer.waitForType(ButtonRelease);
    ASSERT_TRUE(release.has_value());
    EXPECT_EQ(release->xbutton.button, xButton);
  }

  // A move with the left button held is a drag.
  input.button(MouseButton::left, true);
  input.move(10, 0);
  auto motion = observer.waitFor([](const XEvent& e) { return e.type == MotionNotify && e.xmotion.x == 50; });
  ASSERT_TRUE(motion.has_value());
  EXPECT_TRUE(motion->xmotion.state & Button1Mask);
  input.releaseAll();
  EXPECT_TRUE(observer.waitForType(ButtonRelease).has_value());
}

TEST_F(X11EventPosterTest, AChordArrivesWithItsKeysymAndModifiers) {
  DesktopShortcutGestureBackend gestures(*poster);
  KeystrokeService keys(*poster, gestures);
  keys.key(KeyboardKey::arrowLeft, KeyModifiers::of({KeyModifiers::command(), KeyModifiers::shift()}));
  auto left = observer.waitFor([](const XEvent& e) {
    return e.type == KeyPress && XLookupKeysym(const_cast<XKeyEvent*>(&e.xkey), 0) == XK_Left;
  });
  ASSERT_TRUE(left.has_value());
  EXPECT_EQ(left->xkey.state & (ControlMask | ShiftMask | Mod1Mask), ControlMask | ShiftMask);

  // Flags alone, with no modifier key held, still reach the client.
  poster->post(KeyboardEvent{std::nullopt, VirtualKey::tab, true, EventFlags::maskAlternate, {}}, EventTapLocation::hid);
  poster->post(KeyboardEvent{std::nullopt, VirtualKey::tab, false, EventFlags::maskAlternate, {}}, EventTapLocation::hid);
  auto tab = observer.waitFor([](const XEvent& e) {
    return e.type == KeyPress && XLookupKeysym(const_cast<XKeyEvent*>(&e.xkey), 0) == XK_Tab;
  });
  ASSERT_TRUE(tab.has_value());
  EXPECT_EQ(tab->xkey.state & (ControlMask | ShiftMask | Mod1Mask), static_cast<unsigned>(Mod1Mask));
}

TEST_F(X11EventPosterTest, SystemKeysArriveAsMediaKeysyms) {
  DesktopShortcutGestureBackend gestures(*poster);
  KeystrokeService keys(*poster, gestures);
  keys.key(KeyboardKey::playPause, {});
  keys.key(KeyboardKey::keyboardLightUp, {});
  for (const KeySym expected : {KeySym{XF86XK_AudioPlay}, KeySym{XF86XK_KbdBrightnessUp}}) {
    auto press = observer.waitForType(KeyPress);
    ASSERT_TRUE(press.has_value());
    EXPECT_EQ(keysymOf(*press), expected);
    auto release = observer.waitForType(KeyRelease);
    ASSERT_TRUE(release.has_value());
    EXPECT_EQ(keysymOf(*release), expected);
  }
}

TEST_F(X11EventPosterTest, TypedTextArrivesCharacterByCharacter) {
  DesktopShortcutGestureBackend gestures(*poster);
  KeystrokeService keys(*poster, gestures);
  keys.type("a\xC3\xA9\xE6\xBC\xA2\xF0\x9F\x91\x8B" "A");  // aé漢👋A

  std::vector<KeySym> typed;
  std::vector<KeyCode> codes;
  while (typed.size() < 5) {
    auto press = observer.waitForType(KeyPress);
    ASSERT_TRUE(press.has_value()) << "only " << typed.size() << " characters arrived";
    typed.push_back(keysymOf(*press));
    codes.push_back(static_cast<KeyCode>(press->xkey.keycode));
  }
  EXPECT_EQ(typed, (std::vector<KeySym>{XK_a, XK_eacute, 0x01000000 | 0x6F22, 0x01000000 | 0x1F44B, XK_A}));

  // Closing the poster gives the borrowed keycodes back.
  poster.reset();
  int perKeycode = 0;
  KeySym* map = XGetKeyboardMapping(observer.display(), codes[2], 1, &perKeycode);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map[0], static_cast<KeySym>(NoSymbol));
  XFree(map);
}

TEST_F(X11EventPosterTest, ScrollingClicksTheWheelInTheRightDirection) {
  using P = ScrollPhaseField;
  using M = MomentumPhaseField;
  poster->post(MouseEvent{std::nullopt, EventType::mouseMoved, {300, 300}, EventMouseButton::left, {}},
               EventTapLocation::hid);
  poster->post(scroll(P::began, M::none, 0, 0), EventTapLocation::hid);
  poster->post(scroll(P::changed, M::none, 20, 0), EventTapLocation::hid);   // 1 notch, 5 carried
  poster->post(scroll(P::changed, M::none, 10, 0), EventTapLocation::hid);   // 1 notch
  poster->post(scroll(P::changed, M::none, -45, 15), EventTapLocation::hid); // 3 down, 1 left
  poster->post(scroll(P::ended, M::none, 0, 0), EventTapLocation::hid);
  poster->post(scroll(P::none, M::begin, 0, -30), EventTapLocation::hid);    // momentum: 2 right
  poster->post(scroll(P::none, M::end, 0, 0), EventTapLocation::hid);
  EXPECT_EQ(wheelButtons(8), (std::vector<unsigned>{4, 4, 5, 5, 5, 6, 7, 7}));
}

TEST_F(X11EventPosterTest, AKeyboardGrabElsewhereCountsAsSecureInput) {
  EXPECT_FALSE(poster->isSecureEventInputEnabled());
  ASSERT_EQ(XGrabKeyboard(observer.display(), observer.window(), False, GrabModeAsync, GrabModeAsync, CurrentTime),
            GrabSuccess);
  XSync(observer.display(), False);
  EXPECT_TRUE(poster->isSecureEventInputEnabled());
  XUngrabKeyboard(observer.display(), CurrentTime);
  XSync(observer.display(), False);
  EXPECT_FALSE(poster->isSecureEventInputEnabled());
}

TEST_F(X11EventPosterTest, DoubleClickIntervalComesFromTheSettingsManager) {
  EXPECT_EQ(poster->doubleClickInterval(), std::chrono::milliseconds(400));

  // Become the settings manager, publishing Net/DoubleClickTime = 250.
  const std::string name = "Net/DoubleClickTime";
  std::vector<unsigned char> data{0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  data.insert(data.end(), {0, 0, static_cast<unsigned char>(name.size()), 0});
  data.insert(data.end(), name.begin(), name.end());
  data.resize(data.size() + (4 - name.size() % 4) % 4, 0);
  data.insert(data.end(), {0, 0, 0, 0, 250, 0, 0, 0});
  Display* d = observer.display();
  const Window manager = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  const Atom settings = XInternAtom(d, "_XSETTINGS_SETTINGS", False);
  XChangeProperty(d, manager, settings, settings, 8, PropModeReplace, data.data(), static_cast<int>(data.size()));
  XSetSelectionOwner(d, XInternAtom(d, "_XSETTINGS_S0", False), manager, CurrentTime);
  XSync(d, False);
  EXPECT_EQ(poster->doubleClickInterval(), std::chrono::milliseconds(250));

  // A manager that vanished leaves the default, not an X error.
  XDestroyWindow(d, manager);
  XSync(d, False);
  EXPECT_EQ(poster->doubleClickInterval(), std::chrono::milliseconds(400));
}

}  // namespace
}  // namespace glidemate::host
