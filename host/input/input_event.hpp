#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

#include "host/input/screen_geometry.hpp"

namespace glidemate::host {

// The events the input services post, with the values the system's event
// services define (event types, field numbers, flags). The portable services
// fill them in; an EventPoster carries them out on its platform.

// Events from a source with the HID-system state look as if they came from
// the hardware.
enum class EventSourceStateId : std::int32_t { hidSystemState = 1 };

struct EventSource {
  EventSourceStateId stateId;
  bool operator==(const EventSource&) const = default;
};

enum class EventType : std::uint32_t {
  leftMouseDown = 1,
  leftMouseUp = 2,
  rightMouseDown = 3,
  rightMouseUp = 4,
  mouseMoved = 5,
  leftMouseDragged = 6,
  rightMouseDragged = 7,
  keyDown = 10,
  keyUp = 11,
  systemDefined = 14,
  scrollWheel = 22,
};

enum class EventMouseButton : std::uint32_t { left = 0, right = 1 };

enum class EventField : std::uint32_t {
  mouseEventClickState = 1,
  mouseEventDeltaX = 4,
  mouseEventDeltaY = 5,
  scrollWheelEventIsContinuous = 88,
  scrollWheelEventPointDeltaAxis1 = 96,
  scrollWheelEventPointDeltaAxis2 = 97,
  scrollWheelEventScrollPhase = 99,
  scrollWheelEventMomentumPhase = 123,
};

enum class ScrollEventUnit : std::uint32_t { pixel = 0, line = 1 };

// Where events enter the system: the HID tap, as from hardware.
enum class EventTapLocation : std::uint32_t { hid = 0 };

namespace EventFlags {
inline constexpr std::uint64_t maskShift = 0x20000;
inline constexpr std::uint64_t maskControl = 0x40000;
inline constexpr std::uint64_t maskAlternate = 0x80000;
inline constexpr std::uint64_t maskCommand = 0x100000;
}  // namespace EventFlags

// The few fields an event carries, kept inline so that posting a pointer
// move allocates nothing. Setting a field twice keeps the last value.
template <class V>
class EventFieldValues {
 public:
  struct Entry {
    EventField field;
    V value;
    bool operator==(const Entry&) const = default;
  };
  static constexpr std::size_t capacity = 4;

  void set(EventField field, V value) {
    for (std::size_t i = 0; i < count_; ++i) {
      if (entries_[i].field == field) {
        entries_[i].value = value;
        return;
      }
    }
    if (count_ == capacity) throw std::length_error("an event holds at most four fields of a kind");
    entries_[count_++] = {field, value};
  }
  std::optional<V> get(EventField field) const {
    for (std::size_t i = 0; i < count_; ++i) {
      if (entries_[i].field == field) return entries_[i].value;
    }
    return std::nullopt;
  }
  const Entry* begin() const { return entries_.data(); }
  const Entry* end() const { return entries_.data() + count_; }
  std::size_t size() const { return count_; }

  // The order in which fields were set does not matter.
  friend bool operator==(const EventFieldValues& a, const EventFieldValues& b) {
    if (a.count_ != b.count_) return false;
    for (const auto& e : a) {
      if (b.get(e.field) != e.value) return false;
    }
    return true;
  }

 private:
  std::array<Entry, capacity> entries_{};
  std::size_t count_ = 0;
};

// A mouse event at a point; posting it moves the cursor there.
struct MouseEvent {
  std::optional<EventSource> source;
  EventType type = EventType::mouseMoved;
  ScreenPoint location;
  EventMouseButton button = EventMouseButton::left;
  EventFieldValues<std::int64_t> integerFields;
  bool operator==(const MouseEvent&) const = default;
};

// A scroll-wheel event: wheel 1 is vertical, wheel 2 horizontal.
struct ScrollWheelEvent {
  std::optional<EventSource> source;
  ScrollEventUnit units = ScrollEventUnit::pixel;
  std::uint32_t wheelCount = 2;
  std::int32_t wheel1 = 0;
  std::int32_t wheel2 = 0;
  EventFieldValues<std::int64_t> integerFields;
  EventFieldValues<double> doubleFields;
  bool operator==(const ScrollWheelEvent&) const = default;
};

// A key going down or up, by virtual key code. Flags absent means the event
// keeps the source's modifier state. A non-empty Unicode string (at most 16
// UTF-16 units) is the text the key types, whatever the key code.
struct KeyboardEvent {
  std::optional<EventSource> source;
  std::uint16_t virtualKey = 0;
  bool keyDown = true;
  std::optional<std::uint64_t> flags;
  std::u16string unicodeString;
  bool operator==(const KeyboardEvent&) const = default;
};

// An application-defined "system" event, the form media, brightness and
// keyboard-light keys take: subtype 8 (auxiliary control buttons) with the
// key type and key state packed into data1.
struct SystemDefinedEvent {
  static constexpr std::int16_t auxControlButtons = 8;

  EventType type = EventType::systemDefined;
  ScreenPoint location;
  std::uint64_t modifierFlags = 0;
  double timestamp = 0;
  std::int64_t windowNumber = 0;
  std::int16_t subtype = auxControlButtons;
  std::int64_t data1 = 0;
  std::int64_t data2 = -1;
  bool operator==(const SystemDefinedEvent&) const = default;
};

using InputEvent = std::variant<MouseEvent, ScrollWheelEvent, KeyboardEvent, SystemDefinedEvent>;

// The characters of a keyboard event's Unicode string; unpaired surrogates
// are skipped.
std::u32string codePointsOf(const std::u16string& units);

// One line per event, for the logging poster and for test failures.
std::string describe(const InputEvent& event);
std::ostream& operator<<(std::ostream& out, const MouseEvent& event);
std::ostream& operator<<(std::ostream& out, const ScrollWheelEvent& event);
std::ostream& operator<<(std::ostream& out, const KeyboardEvent& event);
std::ostream& operator<<(std::ostream& out, const SystemDefinedEvent& event);

}  // namespace glidemate::host
