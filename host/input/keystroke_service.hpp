#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <variant>

#include "host/input/event_poster.hpp"
#include "host/input/gesture_backend.hpp"
#include "kit/wire/input_enums.hpp"

namespace glidemate::host {

// Posts the keyboard side of the phone's input: named keys with modifiers,
// typed text, the media, brightness and keyboard-light keys, and system
// gestures. It refuses to type into a password field (secure keyboard
// entry), which would discard the input anyway. One instance; main executor.
class KeystrokeService {
 public:
  class Refusal : public std::runtime_error {
   public:
    struct SecureInput {
      bool operator==(const SecureInput&) const = default;
    };
    using Case = std::variant<SecureInput>;

    explicit Refusal(Case c);
    static Refusal secureInput() { return Refusal(SecureInput{}); }

    const Case& which() const { return case_; }
    friend bool operator==(const Refusal& a, const Refusal& b) { return a.case_ == b.case_; }

   private:
    Case case_;
  };

  // The most UTF-16 units one keyboard event carries.
  static constexpr std::size_t maxUnitsPerEvent = 16;

  KeystrokeService(EventPoster& poster, GestureBackend& gestures);

  // System keys are posted whatever the modifiers and even into a password
  // field; ordinary keys throw Refusal while secure entry is on.
  void key(KeyboardKey key, KeyModifiers modifiers);
  // Presses and releases one virtual key with the given event flags.
  void press(std::uint16_t keyCode, std::uint64_t flags);
  // Throws Refusal while secure entry is on: for callers about to press
  // keys that must not go astray.
  void refuseSecureInput();
  // Presses and releases one auxiliary-control key (16 play, 17 next, ...).
  void postSystemKey(std::int32_t keyType);
  // Types UTF-8 text (ill-formed bytes become U+FFFD). Throws Refusal while
  // secure entry is on, unless the text is empty.
  void type(std::string_view text);
  void perform(SystemGesture gesture) { gestures_.perform(gesture); }

 private:
  EventPoster& poster_;
  GestureBackend& gestures_;
  std::optional<EventSource> source_;
};

}  // namespace glidemate::host
