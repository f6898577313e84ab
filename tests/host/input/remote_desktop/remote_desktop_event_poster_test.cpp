#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/input_service.hpp"
#include "host/input/keystroke_service.hpp"
#include "host/input/remote_desktop/xkb_keyboard_layout.hpp"
#include "kit/input/scroll_event.hpp"
#include "tests/host/input/remote_desktop/fake_remote_desktop_session.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using Calls = std::vector<std::string>;

class CollectingLogger final : public Logger {
 public:
  void log(std::string_view, std::string_view message) override { lines.emplace_back(message); }
  std::vector<std::string> lines;
};

class RemoteDesktopEventPosterTest : public ::testing::Test {
 protected:
  InputService& input() {
    if (!input_) input_.emplace(poster, [this] { return now; });
    return *input_;
  }

  FakeRemoteDesktopSession session;
  CollectingLogger logger;
  RemoteDesktopEventPoster poster{session, nullptr, logger};
  DesktopShortcutGestureBackend gestures{poster};
  KeystrokeService keystrokes{poster, gestures};
  std::chrono::steady_clock::time_point now{10s};
  std::optional<InputService> input_;
};

TEST_F(RemoteDesktopEventPosterTest, InputBeforeTheSessionIsReadyIsDroppedWithOneLogLine) {
  session.ready = false;
  input().move(10, 10);
  input().button(MouseButton::left, true);
  keystrokes.type("hi");

  EXPECT_TRUE(session.calls.empty());
  EXPECT_EQ(logger.lines.size(), 1u);
  EXPECT_GE(session.inputWantedCount, 3) << "each refused event asks for a session";

  session.ready = true;
  input().button(MouseButton::left, false);
  EXPECT_THAT(session.calls, ElementsAre("button 272 up"));
  session.ready = false;
  keystrokes.type("x");
  EXPECT_EQ(logger.lines.size(), 2u) << "a new outage is reported again";
}

TEST_F(RemoteDesktopEventPosterTest, WithoutThePointersPlaceMovesAreRelativeAndKeepTheirFractions) {
  session.monitorRects = std::vector<ScreenRect>{{0, 0, 1440, 900}};
  input().move(100, 50);
  input().move(0.5, 0.25);
  input().move(0.5, 0.25);
  input().button(MouseButton::right, true);
  input().button(MouseButton::right, false);
  EXPECT_THAT(session.calls, ElementsAre("relative 100 50", "relative 0.5 0.25", "relative 0.5 0.25",
                                         "button 273 down", "button 273 up"));
}

TEST_F(RemoteDesktopEventPosterTest, ARelativeMoveHeldAtAnEdgeTheHostOnlyBelievesInStillMoves) {
  // The host starts believing the pointer is at the origin; the desktop's
  // pointer is elsewhere, and it keeps the pointer on its monitors itself.
  session.monitorRects = std::vector<ScreenRect>{{0, 0, 1440, 900}};
  input().move(-40, -30);
  input().move(-40, 5);
  EXPECT_THAT(session.calls, ElementsAre("relative -40 -30", "relative -40 5"));
}

TEST_F(RemoteDesktopEventPosterTest, WithThePointersPlaceMovesPlaceItWhereTheHostClampedIt) {
  session.monitorRects = std::vector<ScreenRect>{{0, 0, 1440, 900}};
  session.pointer = ScreenPoint{720, 450};
  input().move(100, 50);
  input().move(5000, 0);
  input().button(MouseButton::left, true);
  EXPECT_THAT(session.calls, ElementsAre("absolute 820 500", "absolute 1439 500", "button 272 down"));
  EXPECT_EQ(poster.cursorLocation(), (ScreenPoint{1439, 500}));
}

TEST_F(RemoteDesktopEventPosterTest, ANewSessionForgetsWhereTheOldOnePutThePointer) {
  input().move(10, 0);
  ++session.sessionGeneration;
  EXPECT_EQ(poster.cursorLocation(), std::nullopt);
  now += 1s;
  input().move(3, 0);
  EXPECT_THAT(session.calls, ElementsAre("relative 10 0", "relative 3 0"))
      << "the first move of a new session goes by its own delta";
}

ScrollWheelEvent scroll(double vertical, double horizontal, ScrollPhaseField phase,
                        MomentumPhaseField momentum = MomentumPhaseField::none) {
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

TEST_F(RemoteDesktopEventPosterTest, AScrollGestureIsSmoothAndFinishedAtItsEndAndAtTheEndOfItsMomentum) {
  for (const auto& e : {scroll(0, 0, ScrollPhaseField::began), scroll(12, -3, ScrollPhaseField::changed),
                        scroll(0, 0, ScrollPhaseField::ended),
                        scroll(7, 0, ScrollPhaseField::none, MomentumPhaseField::begin),
                        scroll(2, 0, ScrollPhaseField::none, MomentumPhaseField::continuePhase),
                        scroll(0, 0, ScrollPhaseField::none, MomentumPhaseField::end),
                        scroll(0, 0, ScrollPhaseField::mayBegin), scroll(0, 0, ScrollPhaseField::cancelled)}) {
    poster.post(e, EventTapLocation::hid);
  }
  EXPECT_THAT(session.calls, ElementsAre("axis 3 -12", "axis 0 0 finish", "axis -0 -7", "axis -0 -2",
                                         "axis 0 0 finish", "axis 0 0 finish"));
}

TEST_F(RemoteDesktopEventPosterTest, KeysGoByCodeWithTheirModifiersAndMediaKeysByTheirOwnCodes) {
  keystrokes.key(KeyboardKey::arrowLeft, KeyModifiers::of({KeyModifiers::command(), KeyModifiers::shift()}));
  EXPECT_THAT(session.calls, ElementsAre("key 29 down", "key 42 down", "key 105 down", "key 105 up", "key 42 up",
                                         "key 29 up"));

  session.calls.clear();
  keystrokes.key(KeyboardKey::playPause, {});
  keystrokes.key(KeyboardKey::brightnessDown, {});
  EXPECT_THAT(session.calls, ElementsAre("key 164 down", "key 164 up", "key 224 down", "key 224 up"));

  session.calls.clear();
  keystrokes.perform(SystemGesture::spaceRight);
  EXPECT_THAT(session.calls, ElementsAre("key 29 down", "key 56 down", "key 106 down", "key 106 up", "key 56 up",
                                         "key 29 up"));
}

// What typing one text sends, with the given layout.
Calls typed(const std::string& text, const KeyboardLayout* layout) {
  FakeRemoteDesktopSession session;
  CollectingLogger logger;
  RemoteDesktopEventPoster poster{session, layout, logger};
  DesktopShortcutGestureBackend gestures{poster};
  KeystrokeService keystrokes{poster, gestures};
  keystrokes.type(text);
  return session.calls;
}

Calls unicodeEntry(std::vector<std::string> hexDigitKeysyms) {
  Calls out{"key 29 down", "key 42 down", "keysym 0x75 down", "keysym 0x75 up", "key 42 up", "key 29 up"};
  for (const auto& digit : hexDigitKeysyms) {
    out.push_back("keysym " + digit + " down");
    out.push_back("keysym " + digit + " up");
  }
  out.insert(out.end(), {"key 57 down", "key 57 up"});
  return out;
}

TEST(RemoteDesktopTextTest, CharactersTheLayoutHasGoByKeysymTheOthersAsUnicodeEntries) {
  const auto us = XkbKeyboardLayout::fromNames("us");
  const auto fr = XkbKeyboardLayout::fromNames("fr");
  EXPECT_THAT(typed("é", fr.get()), ElementsAre("keysym 0xe9 down", "keysym 0xe9 up"));
  EXPECT_EQ(typed("é", us.get()), unicodeEntry({"0x65", "0x39"}));
  EXPECT_EQ(typed("漢", fr.get()), unicodeEntry({"0x36", "0x66", "0x32", "0x32"}));
  EXPECT_EQ(typed("👋", us.get()), unicodeEntry({"0x31", "0x66", "0x34", "0x34", "0x62"}));
  // Without a known layout only ASCII is trusted to the keymap.
  EXPECT_THAT(typed("A", nullptr), ElementsAre("keysym 0x41 down", "keysym 0x41 up"));
  EXPECT_EQ(typed("é", nullptr), unicodeEntry({"0x65", "0x39"}));
  // Line breaks and tabs are their keys.
  EXPECT_THAT(typed("\n\t", us.get()), ElementsAre("key 28 down", "key 28 up", "key 15 down", "key 15 up"));
}

TEST(RemoteDesktopTextTest, ALayoutWithoutLatinLettersTypesWhatItHasAndReportsTheRestOnce) {
  const auto ru = XkbKeyboardLayout::fromNames("ru");
  FakeRemoteDesktopSession session;
  CollectingLogger logger;
  RemoteDesktopEventPoster poster{session, ru.get(), logger};
  DesktopShortcutGestureBackend gestures{poster};
  KeystrokeService keystrokes{poster, gestures};
  keystrokes.type("дq漢");
  EXPECT_THAT(session.calls, ElementsAre("keysym 0x6c4 down", "keysym 0x6c4 up"));
  EXPECT_EQ(logger.lines.size(), 1u);
}

TEST(XkbKeyboardLayoutTest, AnswersWhetherAKeysymIsWithinShiftOrAltGr) {
  const auto fr = XkbKeyboardLayout::fromNames("fr");
  EXPECT_EQ(fr->types(0xe9), true);          // é, unshifted
  EXPECT_EQ(fr->types(0x31), true);          // 1, shifted
  EXPECT_EQ(fr->types(0x40), true);          // @, AltGr
  EXPECT_EQ(fr->types(0x1006f22), false);    // 漢
  EXPECT_THROW(XkbKeyboardLayout::fromNames("no-such-layout"), std::invalid_argument);
  EXPECT_THROW(XkbKeyboardLayout::fromKeymap("not a keymap"), std::invalid_argument);
}

}  // namespace
}  // namespace glidemate::host
