#include "host/input/remote_desktop/remote_desktop_event_poster.hpp"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "host/input/virtual_key.hpp"
#include "kit/input/scroll_event.hpp"

namespace glidemate::host {
namespace {

// GNOME's default; the desktop counts clicks itself, so this only steers
// the host's own count.
constexpr std::chrono::milliseconds doubleClickTime{400};

// Each modifier flag, the virtual key that produces it, and the key that
// stands for it on a PC keyboard (command is Control, option Alt, control
// Super), in the order the flags are pressed.
struct Modifier {
  std::uint64_t flag;
  std::uint16_t virtualKey;
  std::uint32_t key;
};
constexpr std::array<Modifier, 4> modifiers{{
    {EventFlags::maskCommand, VirtualKey::command, KEY_LEFTCTRL},
    {EventFlags::maskShift, VirtualKey::shift, KEY_LEFTSHIFT},
    {EventFlags::maskAlternate, VirtualKey::option, KEY_LEFTALT},
    {EventFlags::maskControl, VirtualKey::control, KEY_LEFTMETA},
}};

// A key as the session takes it: by its position when it types no
// character, by keysym when it does, so that it types the same in every
// layout.
struct Key {
  std::uint32_t code = 0;
  std::uint32_t keysym = 0;
};

std::optional<Key> keyFor(std::uint16_t virtualKey) {
  switch (virtualKey) {
    case VirtualKey::ansiA: return Key{0, XKB_KEY_a};
    case VirtualKey::leftBracket: return Key{0, XKB_KEY_bracketleft};
    case VirtualKey::rightBracket: return Key{0, XKB_KEY_bracketright};
    case VirtualKey::space: return Key{KEY_SPACE, 0};
    case VirtualKey::returnKey: return Key{KEY_ENTER, 0};
    case VirtualKey::deleteKey: return Key{KEY_BACKSPACE, 0};
    case VirtualKey::forwardDelete: return Key{KEY_DELETE, 0};
    case VirtualKey::tab: return Key{KEY_TAB, 0};
    case VirtualKey::escape: return Key{KEY_ESC, 0};
    case VirtualKey::upArrow: return Key{KEY_UP, 0};
    case VirtualKey::downArrow: return Key{KEY_DOWN, 0};
    case VirtualKey::leftArrow: return Key{KEY_LEFT, 0};
    case VirtualKey::rightArrow: return Key{KEY_RIGHT, 0};
    case VirtualKey::home: return Key{KEY_HOME, 0};
    case VirtualKey::end: return Key{KEY_END, 0};
    case VirtualKey::pageUp: return Key{KEY_PAGEUP, 0};
    case VirtualKey::pageDown: return Key{KEY_PAGEDOWN, 0};
    default: break;
  }
  for (const auto& m : modifiers) {
    if (m.virtualKey == virtualKey) return Key{m.key, 0};
  }
  return std::nullopt;
}

std::optional<std::uint32_t> keyForAuxControl(std::int32_t keyType) {
  switch (keyType) {
    case AuxControlKey::play: return KEY_PLAYPAUSE;
    case AuxControlKey::next: return KEY_NEXTSONG;
    case AuxControlKey::previous: return KEY_PREVIOUSSONG;
    case AuxControlKey::brightnessUp: return KEY_BRIGHTNESSUP;
    case AuxControlKey::brightnessDown: return KEY_BRIGHTNESSDOWN;
    case AuxControlKey::illuminationUp: return KEY_KBDILLUMUP;
    case AuxControlKey::illuminationDown: return KEY_KBDILLUMDOWN;
    default: return std::nullopt;
  }
}

bool isModifier(std::uint16_t virtualKey) {
  return std::any_of(modifiers.begin(), modifiers.end(),
                     [&](const Modifier& m) { return m.virtualKey == virtualKey; });
}

}  // namespace

RemoteDesktopEventPoster::RemoteDesktopEventPoster(RemoteDesktopSession& session, const KeyboardLayout* layout,
                                                   Logger& logger)
    : session_(session), layout_(layout), logger_(logger) {}

std::optional<EventSource> RemoteDesktopEventPoster::createSource(EventSourceStateId stateId) {
  return EventSource{stateId};
}

bool RemoteDesktopEventPoster::ready() {
  if (!session_.isReady()) {
    session_.inputWanted();
    if (!refusalLogged_) {
      logger_.log("input", "The desktop's remote-desktop session is not ready: input is dropped until it is");
      refusalLogged_ = true;
    }
    return false;
  }
  refusalLogged_ = false;
  followSession();
  return true;
}

void RemoteDesktopEventPoster::followSession() {
  if (session_.generation() == generation_) return;
  // A new session starts with no keys held and the pointer wherever it is.
  generation_ = session_.generation();
  placed_.reset();
  placeByStream_ = false;
  heldModifiers_.clear();
}

std::optional<ScreenPoint> RemoteDesktopEventPoster::cursorLocation() {
  // The input service asks when a gesture starts: from then on its idea of
  // the pointer is the real one when the stream told it, and moves may
  // place the pointer; otherwise they stay relative for the gesture.
  if (!session_.isReady()) {
    placeByStream_ = false;
    return std::nullopt;
  }
  followSession();
  auto position = session_.pointerPosition();
  placeByStream_ = position.has_value();
  return position ? position : placed_;
}

void RemoteDesktopEventPoster::hideCursor() {
  followSession();
  session_.trackPointer(placed_);
}

void RemoteDesktopEventPoster::showCursor() { session_.stopTrackingPointer(); }

void RemoteDesktopEventPoster::post(const InputEvent& event, EventTapLocation) {
  if (!ready()) return;
  std::visit(
      [this](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, MouseEvent>) postMouse(e);
        else if constexpr (std::is_same_v<E, ScrollWheelEvent>) postScroll(e);
        else if constexpr (std::is_same_v<E, KeyboardEvent>) postKeyboard(e);
        else postSystemDefined(e);
      },
      event);
}

void RemoteDesktopEventPoster::moveTo(const MouseEvent& e) {
  if (placed_ == e.location) return;
  if (!std::isfinite(e.location.x) || !std::isfinite(e.location.y)) return;
  // The input service started this gesture from the pointer's real place,
  // so its position is where the pointer belongs.
  if (placeByStream_ && session_.pointerMotionAbsolute(e.location)) {
    placed_ = e.location;
    return;
  }
  // The change of position carries the phone's fractions of a point; where
  // it is short of the event's whole-point delta, the input service held
  // the position at the edge of a display it may wrongly believe the
  // pointer near, so the delta goes instead and the desktop keeps the
  // pointer on its monitors itself.
  const auto delta = [&](double change, EventField field) {
    const auto whole = e.integerFields.get(field);
    if (!whole) return change;
    return std::abs(change - static_cast<double>(*whole)) >= 1 ? static_cast<double>(*whole) : change;
  };
  const double dx = delta(placed_ ? e.location.x - placed_->x : 0, EventField::mouseEventDeltaX);
  const double dy = delta(placed_ ? e.location.y - placed_->y : 0, EventField::mouseEventDeltaY);
  if (dx != 0 || dy != 0) session_.pointerMotionRelative(dx, dy);
  placed_ = e.location;
}

void RemoteDesktopEventPoster::postMouse(const MouseEvent& e) {
  moveTo(e);
  const std::int32_t button = e.button == EventMouseButton::right ? BTN_RIGHT : BTN_LEFT;
  switch (e.type) {
    case EventType::leftMouseDown:
    case EventType::rightMouseDown: session_.pointerButton(button, true); break;
    case EventType::leftMouseUp:
    case EventType::rightMouseUp: session_.pointerButton(button, false); break;
    default: break;  // moves and drags: the motion is all there is
  }
}

void RemoteDesktopEventPoster::postScroll(const ScrollWheelEvent& e) {
  const double vertical = e.doubleFields.get(EventField::scrollWheelEventPointDeltaAxis1).value_or(e.wheel1);
  const double horizontal = e.doubleFields.get(EventField::scrollWheelEventPointDeltaAxis2).value_or(e.wheel2);
  // Positive deltas scroll up and left, as a wheel rolled away does; the
  // desktop's positive axis values scroll down and right.
  if ((vertical != 0 || horizontal != 0) && std::isfinite(vertical) && std::isfinite(horizontal)) {
    session_.pointerAxis(-horizontal, -vertical, false);
  }
  const auto phase = e.integerFields.get(EventField::scrollWheelEventScrollPhase);
  const auto momentum = e.integerFields.get(EventField::scrollWheelEventMomentumPhase);
  const bool gestureEnds = phase == static_cast<std::int64_t>(ScrollPhaseField::ended) ||
                           phase == static_cast<std::int64_t>(ScrollPhaseField::cancelled) ||
                           momentum == static_cast<std::int64_t>(MomentumPhaseField::end);
  if (gestureEnds) session_.pointerAxis(0, 0, true);
}

void RemoteDesktopEventPoster::postKeyboard(const KeyboardEvent& e) {
  if (!e.unicodeString.empty()) {
    // The text is typed when the key goes down.
    if (!e.keyDown) return;
    for (const char32_t c : codePointsOf(e.unicodeString)) typeCharacter(c);
    return;
  }
  const auto key = keyFor(e.virtualKey);
  if (!key) return;
  const auto send = [this](const Key& k, bool down) {
    if (k.code != 0) session_.keyboardKeycode(k.code, down);
    else session_.keyboardKeysym(k.keysym, down);
  };
  if (isModifier(e.virtualKey)) {
    if (e.keyDown) heldModifiers_.insert(e.virtualKey);
    else heldModifiers_.erase(e.virtualKey);
    send(*key, e.keyDown);
    return;
  }
  // Flags naming a modifier nobody holds: hold it around this key alone.
  std::vector<std::uint32_t> wrapped;
  for (const auto& m : modifiers) {
    if (e.flags && (*e.flags & m.flag) && !heldModifiers_.contains(m.virtualKey)) wrapped.push_back(m.key);
  }
  for (const auto m : wrapped) session_.keyboardKeycode(m, true);
  send(*key, e.keyDown);
  for (auto m = wrapped.rbegin(); m != wrapped.rend(); ++m) session_.keyboardKeycode(*m, false);
}

void RemoteDesktopEventPoster::postSystemDefined(const SystemDefinedEvent& e) {
  if (e.subtype != SystemDefinedEvent::auxControlButtons) return;
  const auto keyType = static_cast<std::int32_t>((e.data1 >> 16) & 0xFFFF);
  const auto state = (e.data1 >> 8) & 0xFF;
  const auto key = keyForAuxControl(keyType);
  if (!key || (state != 0xA && state != 0xB)) return;
  session_.keyboardKeycode(*key, state == 0xA);
}

bool RemoteDesktopEventPoster::layoutTypes(std::uint32_t keysym) const {
  if (layout_ != nullptr) {
    if (const auto known = layout_->types(keysym)) return *known;
  }
  // Without the layout, only what every Latin layout has.
  return keysym >= 0x20 && keysym <= 0x7E;
}

void RemoteDesktopEventPoster::tapKeysym(std::uint32_t keysym) {
  session_.keyboardKeysym(keysym, true);
  session_.keyboardKeysym(keysym, false);
}

void RemoteDesktopEventPoster::typeCharacter(char32_t c) {
  if (c == U'\n' || c == U'\r') {
    session_.keyboardKeycode(KEY_ENTER, true);
    session_.keyboardKeycode(KEY_ENTER, false);
    return;
  }
  if (c == U'\t') {
    session_.keyboardKeycode(KEY_TAB, true);
    session_.keyboardKeycode(KEY_TAB, false);
    return;
  }
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return;
  const xkb_keysym_t keysym = xkb_utf32_to_keysym(c);
  if (keysym != XKB_KEY_NoSymbol && layoutTypes(keysym)) {
    tapKeysym(keysym);
    return;
  }
  typeUnicodeEntry(c);
}

void RemoteDesktopEventPoster::typeUnicodeEntry(char32_t c) {
  static constexpr char hex[] = "0123456789abcdef";
  // The entry needs the letter u, the hex digits and space.
  bool possible = layoutTypes(XKB_KEY_u) && layoutTypes(XKB_KEY_space);
  for (const char digit : std::string_view(hex)) possible = possible && layoutTypes(static_cast<std::uint32_t>(digit));
  if (!possible) {
    if (!entryUnavailableLogged_) {
      logger_.log("input", "The keyboard layout has no Latin letters, so characters it lacks cannot be typed");
      entryUnavailableLogged_ = true;
    }
    return;
  }
  session_.keyboardKeycode(KEY_LEFTCTRL, true);
  session_.keyboardKeycode(KEY_LEFTSHIFT, true);
  tapKeysym(XKB_KEY_u);
  session_.keyboardKeycode(KEY_LEFTSHIFT, false);
  session_.keyboardKeycode(KEY_LEFTCTRL, false);
  std::string digits;
  for (std::uint32_t v = c; v != 0; v >>= 4) digits.insert(digits.begin(), hex[v & 0xF]);
  for (const char digit : digits) tapKeysym(static_cast<std::uint32_t>(digit));
  session_.keyboardKeycode(KEY_SPACE, true);
  session_.keyboardKeycode(KEY_SPACE, false);
}

std::optional<std::vector<ScreenRect>> RemoteDesktopEventPoster::activeDisplayBounds() {
  return session_.monitors();
}

std::optional<double> RemoteDesktopEventPoster::mainDisplayRefreshRate() { return session_.refreshRate(); }

std::chrono::duration<double> RemoteDesktopEventPoster::doubleClickInterval() { return doubleClickTime; }

}  // namespace glidemate::host
