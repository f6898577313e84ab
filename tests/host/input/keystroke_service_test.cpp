#include "host/input/keystroke_service.hpp"

#include <gtest/gtest.h>

#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/keyboard_failure_reply.hpp"
#include "host/input/recording_event_poster.hpp"
#include "host/input/script_gesture_backend.hpp"
#include "host/services/fake_apple_script_runner.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::thrown;

constexpr std::uint64_t cmd = EventFlags::maskCommand, opt = EventFlags::maskAlternate,
                        ctl = EventFlags::maskControl, sft = EventFlags::maskShift;
const std::optional<EventSource> hid = EventSource{EventSourceStateId::hidSystemState};

KeyboardEvent down(std::uint16_t key, std::optional<std::uint64_t> flags = std::nullopt) {
  return {hid, key, true, flags, {}};
}
KeyboardEvent up(std::uint16_t key, std::optional<std::uint64_t> flags = std::nullopt) {
  return {hid, key, false, flags, {}};
}

class KeystrokeServiceTest : public ::testing::Test {
 protected:
  std::vector<KeyboardEvent> keys() const {
    std::vector<KeyboardEvent> out;
    for (const auto& p : poster.posted()) out.push_back(std::get<KeyboardEvent>(p.event));
    return out;
  }

  RecordingEventPoster poster;
  FakeAppleScriptRunner runner;
  ScriptGestureBackend gestures{runner};
  KeystrokeService service{poster, gestures};
};

TEST_F(KeystrokeServiceTest, AChordHoldsItsModifiersAroundTheKey) {
  service.key(KeyboardKey::arrowLeft, KeyModifiers::of({KeyModifiers::command(), KeyModifiers::shift()}));
  EXPECT_EQ(keys(), (std::vector{down(55), down(56), down(123, cmd | sft), up(123, cmd | sft), up(56), up(55)}));
  for (const auto& p : poster.posted()) EXPECT_EQ(p.tap, EventTapLocation::hid);

  poster.clear();
  service.key(KeyboardKey::tab, KeyModifiers::of({KeyModifiers::control(), KeyModifiers::option()}));
  EXPECT_EQ(keys(), (std::vector{down(58), down(59), down(48, opt | ctl), up(48, opt | ctl), up(59), up(58)}));

  poster.clear();
  service.key(KeyboardKey::returnKey, {});
  EXPECT_EQ(keys(), (std::vector{down(36, 0), up(36, 0)}));
}

TEST_F(KeystrokeServiceTest, OrdinaryKeysPressTheirVirtualKeyCodes) {
  const std::vector<std::pair<KeyboardKey, std::uint16_t>> table{
      {KeyboardKey::returnKey, 36}, {KeyboardKey::deleteKey, 51}, {KeyboardKey::forwardDelete, 117},
      {KeyboardKey::tab, 48},       {KeyboardKey::escape, 53},    {KeyboardKey::arrowUp, 126},
      {KeyboardKey::arrowDown, 125}, {KeyboardKey::arrowLeft, 123}, {KeyboardKey::arrowRight, 124},
      {KeyboardKey::home, 115},     {KeyboardKey::end, 119},      {KeyboardKey::pageUp, 116},
      {KeyboardKey::pageDown, 121}};
  for (const auto& [key, code] : table) {
    poster.clear();
    service.key(key, {});
    EXPECT_EQ(keys(), (std::vector{down(code, 0), up(code, 0)})) << static_cast<int>(key);
  }
}

TEST_F(KeystrokeServiceTest, SystemKeysPostAuxControlPairsEvenIntoAPasswordField) {
  poster.answers.secureInput = true;
  const std::vector<std::pair<KeyboardKey, std::int64_t>> table{
      {KeyboardKey::playPause, 16},      {KeyboardKey::nextTrack, 17},     {KeyboardKey::previousTrack, 18},
      {KeyboardKey::brightnessUp, 2},    {KeyboardKey::brightnessDown, 3}, {KeyboardKey::keyboardLightUp, 21},
      {KeyboardKey::keyboardLightDown, 22}};
  for (const auto& [key, type] : table) {
    poster.clear();
    service.key(key, KeyModifiers::command());
    SystemDefinedEvent pressed, released;
    pressed.modifierFlags = 0xA00;
    pressed.data1 = (type << 16) | 0xA00;
    released.modifierFlags = 0xB00;
    released.data1 = (type << 16) | 0xB00;
    EXPECT_EQ(poster.events(), (std::vector<InputEvent>{pressed, released})) << type;
  }
  ASSERT_EQ(poster.posted().size(), 2u);
  const auto& last = std::get<SystemDefinedEvent>(poster.posted()[1].event);
  EXPECT_EQ(last.type, EventType::systemDefined);
  EXPECT_EQ(last.subtype, 8);
  EXPECT_EQ(last.data2, -1);
  EXPECT_EQ(last.location, (ScreenPoint{0, 0}));
}

TEST_F(KeystrokeServiceTest, PlayPauseIsTheDocumentedPair) {
  service.postSystemKey(16);
  EXPECT_EQ(std::get<SystemDefinedEvent>(poster.posted()[0].event).data1, 0x100A00);
  EXPECT_EQ(std::get<SystemDefinedEvent>(poster.posted()[1].event).data1, 0x100B00);
}

TEST_F(KeystrokeServiceTest, SecureEntryRefusesKeysAndTextButNotEmptyText) {
  poster.answers.secureInput = true;
  EXPECT_EQ(thrown<KeystrokeService::Refusal>([&] { service.key(KeyboardKey::tab, {}); }),
            KeystrokeService::Refusal::secureInput());
  EXPECT_EQ(thrown<KeystrokeService::Refusal>([&] { service.type("secret"); }),
            KeystrokeService::Refusal::secureInput());
  EXPECT_NO_THROW(service.type(""));
  EXPECT_TRUE(poster.posted().empty());
}

TEST_F(KeystrokeServiceTest, TextTravelsInChunksOfSixteenUnits) {
  service.type(std::string(40, 'x'));
  const auto events = keys();
  ASSERT_EQ(events.size(), 6u);
  const std::vector<std::size_t> sizes{16, 16, 8};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::u16string chunk(sizes[i], u'x');
    EXPECT_EQ(events[2 * i], (KeyboardEvent{hid, 0, true, std::nullopt, chunk}));
    EXPECT_EQ(events[2 * i + 1], (KeyboardEvent{hid, 0, false, std::nullopt, chunk}));
  }
}

TEST_F(KeystrokeServiceTest, ASurrogatePairIsNeverCutInTwo) {
  // 15 units, then 👋 (two units) across the 16-unit boundary, then é.
  service.type(std::string(15, 'a') + "\xF0\x9F\x91\x8B" + "\xC3\xA9");
  const auto events = keys();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].unicodeString, std::u16string(15, u'a'));
  EXPECT_EQ(events[2].unicodeString, u"\U0001F44B\u00E9");
  EXPECT_EQ(events[3].unicodeString, events[2].unicodeString);
}

TEST_F(KeystrokeServiceTest, IllFormedTextTypesReplacementCharacters) {
  service.type("a\xFF" "b\xE6\xBC" "\xF0\x9F\x91");
  EXPECT_EQ(keys().at(0).unicodeString, u"a\uFFFDb\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST_F(KeystrokeServiceTest, GesturesRunTheirSystemEventsScripts) {
  const std::vector<std::pair<SystemGesture, std::string>> table{
      {SystemGesture::missionControl, "key code 126 using {control down}"},
      {SystemGesture::appExpose, "key code 125 using {control down}"},
      {SystemGesture::spaceLeft, "key code 123 using {control down}"},
      {SystemGesture::spaceRight, "key code 124 using {control down}"},
      {SystemGesture::escape, "key code 53"},
      {SystemGesture::back, "key code 33 using {command down}"},
      {SystemGesture::forward, "key code 30 using {command down}"},
      {SystemGesture::spotlight, "key code 49 using {command down}"},
  };
  std::vector<FakeAppleScriptRunner::Run> expected;
  for (const auto& [gesture, tail] : table) {
    service.perform(gesture);
    expected.push_back({"tell application \"System Events\" to " + tail, "System Events"});
  }
  EXPECT_EQ(runner.runs(), expected);
  EXPECT_TRUE(poster.posted().empty());
}

TEST_F(KeystrokeServiceTest, AGestureScriptFailureIsSwallowed) {
  runner.enqueue(AppleScriptRunner::Failure::notPermitted("System Events"));
  runner.enqueue(AppleScriptRunner::Failure::failed("System Events got an error"));
  EXPECT_NO_THROW(service.perform(SystemGesture::back));
  EXPECT_NO_THROW(service.perform(SystemGesture::back));
  EXPECT_EQ(runner.runs().size(), 2u);
}

TEST(DesktopShortcutGestureBackend, PressesTheUsualLinuxShortcuts) {
  using S = DesktopShortcutGestureBackend::Shortcut;
  const std::vector<std::pair<SystemGesture, S>> table{
      {SystemGesture::missionControl, {59, 0}}, {SystemGesture::appExpose, {59, 0}},
      {SystemGesture::spotlight, {59, 0}},      {SystemGesture::spaceLeft, {123, cmd | opt}},
      {SystemGesture::spaceRight, {124, cmd | opt}}, {SystemGesture::back, {123, opt}},
      {SystemGesture::forward, {124, opt}},     {SystemGesture::escape, {53, 0}},
  };
  for (const auto& [gesture, shortcut] : table) {
    EXPECT_EQ(DesktopShortcutGestureBackend::shortcut(gesture), shortcut) << static_cast<int>(gesture);
  }

  RecordingEventPoster poster;
  DesktopShortcutGestureBackend backend(poster);
  backend.perform(SystemGesture::spaceLeft);
  std::vector<InputEvent> expected{down(55), down(58), down(123, cmd | opt), up(123, cmd | opt), up(58), up(55)};
  EXPECT_EQ(poster.events(), expected);
}

TEST(KeyboardFailureReply, NamesThePasswordFieldOnlyForRefusalsOfText) {
  const std::string secure = "Your Mac is showing a password field, which ignores typing from other apps.";
  const auto refusal = KeystrokeService::Refusal::secureInput();
  const std::runtime_error other("boom");
  EXPECT_EQ(KeyboardFailureReply::forKey(refusal), (Event{Event::Failed{"keyboard", secure}}));
  EXPECT_EQ(KeyboardFailureReply::forKey(other), (Event{Event::Failed{"keyboard", secure}}));
  EXPECT_EQ(KeyboardFailureReply::forText(refusal), (Event{Event::Failed{"keyboard", secure}}));
  EXPECT_EQ(KeyboardFailureReply::forText(other),
            (Event{Event::Failed{"keyboard", "Your Mac would not accept that."}}));
}

}  // namespace
}  // namespace glidemate::host
