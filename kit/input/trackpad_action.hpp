#pragma once

#include <utility>
#include <variant>

#include "kit/wire/input_enums.hpp"

namespace glidemate {

// What the touch classifier decided the fingers meant. Each case maps onto
// the input messages the host executes.
struct TrackpadAction {
  // Already accelerated, in screen points.
  struct MoveCursor {
    double dx;
    double dy;
    bool operator==(const MoveCursor&) const = default;
  };
  struct Click {
    MouseButton button;
    bool operator==(const Click&) const = default;
  };
  struct System {
    SystemGesture gesture;
    bool operator==(const System&) const = default;
  };
  // For `ended`, dy is the release velocity in points per second.
  struct Scroll {
    ScrollGesturePhase phase;
    double dx;
    double dy;
    bool operator==(const Scroll&) const = default;
  };
  // The left button goes down and stays down until DragEnded.
  struct DragBegan {
    bool operator==(const DragBegan&) const = default;
  };
  struct DragEnded {
    bool operator==(const DragEnded&) const = default;
  };

  using Case = std::variant<MoveCursor, Click, System, Scroll, DragBegan, DragEnded>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  TrackpadAction(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  bool operator==(const TrackpadAction&) const = default;
};

}  // namespace glidemate
