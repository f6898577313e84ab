#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "kit/transport/channel.hpp"
#include "kit/wire/bytes.hpp"
#include "kit/wire/command.hpp"
#include "kit/wire/event.hpp"
#include "kit/wire/input_enums.hpp"

namespace glidemate {

// Everything a phone and the host say to each other after the handshake.
struct Message {
  struct Ping {
    std::uint64_t sendTimeNs;
    bool operator==(const Ping&) const = default;
  };
  struct Pong {
    std::uint64_t sendTimeNs;
    bool operator==(const Pong&) const = default;
  };
  struct PointerMove {
    float dx;
    float dy;
    bool operator==(const PointerMove&) const = default;
  };
  struct Button {
    MouseButton button;
    bool isDown;
    bool operator==(const Button&) const = default;
  };
  struct Gesture {
    SystemGesture gesture;
    bool operator==(const Gesture&) const = default;
  };
  struct Key {
    KeyboardKey key;
    KeyModifiers modifiers;
    bool operator==(const Key&) const = default;
  };
  struct Text {
    std::string text;
    bool operator==(const Text&) const = default;
  };
  struct Command {
    glidemate::Command command;
    bool operator==(const Command&) const = default;
  };
  struct Event {
    glidemate::Event event;
    bool operator==(const Event&) const = default;
  };
  // One slice of an app icon, a preview frame or now-playing artwork.
  struct AppIconChunk {
    std::string bundleId;
    std::uint32_t totalBytes;
    std::uint32_t offset;
    Bytes chunk;
    bool operator==(const AppIconChunk&) const = default;
  };
  struct Scroll {
    ScrollGesturePhase phase;
    float dx;
    float dy;
    bool operator==(const Scroll&) const = default;
  };

  using Case =
      std::variant<Ping, Pong, PointerMove, Button, Gesture, Key, Text, Command, Event, AppIconChunk, Scroll>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  Message(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  // Pings, pongs, pointer moves and mid-gesture scrolls may be lost or
  // reordered without harm; everything else needs the reliable channel.
  Channel preferredChannel() const;

  bool operator==(const Message&) const = default;
};

}  // namespace glidemate
