#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

namespace glidemate {

// The one-byte enumerations that travel inside input messages. Raw values
// are the bytes on the wire.

enum class MouseButton : std::uint8_t { left = 0, right = 1 };

enum class SystemGesture : std::uint8_t {
  missionControl = 0,
  appExpose = 1,
  spaceLeft = 2,
  spaceRight = 3,
  escape = 4,
  back = 5,
  forward = 6,
  spotlight = 7,
};
inline constexpr std::array allSystemGestures{
    SystemGesture::missionControl, SystemGesture::appExpose, SystemGesture::spaceLeft,
    SystemGesture::spaceRight,     SystemGesture::escape,    SystemGesture::back,
    SystemGesture::forward,        SystemGesture::spotlight};

enum class ScrollGesturePhase : std::uint8_t {
  mayBegin = 0,
  began = 1,
  changed = 2,
  ended = 3,
  cancelled = 4,
};

enum class KeyboardKey : std::uint8_t {
  returnKey = 0,
  deleteKey = 1,
  forwardDelete = 2,
  tab = 3,
  escape = 4,
  arrowUp = 5,
  arrowDown = 6,
  arrowLeft = 7,
  arrowRight = 8,
  home = 9,
  end = 10,
  pageUp = 11,
  pageDown = 12,
  playPause = 13,
  nextTrack = 14,
  previousTrack = 15,
  brightnessUp = 16,
  brightnessDown = 17,
  keyboardLightUp = 18,
  keyboardLightDown = 19,
};
inline constexpr std::uint8_t keyboardKeyCount = 20;

// Media, brightness and keyboard-light keys: posted as system-defined events
// rather than key codes.
constexpr bool isMediaKey(KeyboardKey key) {
  const auto raw = static_cast<std::uint8_t>(key);
  return raw >= 13 && raw <= 19;
}

// A bit set of modifier keys. Bits without a name travel unchanged.
struct KeyModifiers {
  std::uint8_t rawValue = 0;

  static constexpr std::uint8_t commandBit = 0x01;
  static constexpr std::uint8_t optionBit = 0x02;
  static constexpr std::uint8_t controlBit = 0x04;
  static constexpr std::uint8_t shiftBit = 0x08;

  static constexpr KeyModifiers command() { return {commandBit}; }
  static constexpr KeyModifiers option() { return {optionBit}; }
  static constexpr KeyModifiers control() { return {controlBit}; }
  static constexpr KeyModifiers shift() { return {shiftBit}; }

  static constexpr KeyModifiers of(std::initializer_list<KeyModifiers> members) {
    std::uint8_t raw = 0;
    for (auto m : members) raw = static_cast<std::uint8_t>(raw | m.rawValue);
    return {raw};
  }
  constexpr bool contains(KeyModifiers other) const {
    return (rawValue & other.rawValue) == other.rawValue;
  }
  constexpr bool empty() const { return rawValue == 0; }
  bool operator==(const KeyModifiers&) const = default;
};

}  // namespace glidemate
