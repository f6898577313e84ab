#pragma once

#include <variant>
#include <vector>

#include "kit/input/scroll_event.hpp"

namespace glidemate {

// Turns the phases of a two-finger scroll, and the momentum steps that
// follow it, into the phased scroll-wheel events a built-in trackpad would
// produce, so that applications see one coherent gesture.
class ScrollPhaseMachine {
 public:
  struct Coasting {
    bool hasBegun;
    bool operator==(const Coasting&) const = default;
  };
  struct Idle {
    bool operator==(const Idle&) const = default;
  };
  struct MayBegin {
    bool operator==(const MayBegin&) const = default;
  };
  struct Scrolling {
    bool operator==(const Scrolling&) const = default;
  };
  using State = std::variant<Coasting, Idle, MayBegin, Scrolling>;

  State state = Idle{};

  std::vector<ScrollEvent> mayBegin();
  std::vector<ScrollEvent> begin();
  std::vector<ScrollEvent> change(double deltaX, double deltaY);
  std::vector<ScrollEvent> end();
  std::vector<ScrollEvent> cancel();
  std::vector<ScrollEvent> coast(double deltaX, double deltaY);
  std::vector<ScrollEvent> stopCoasting();

  bool isCoasting() const { return std::holds_alternative<Coasting>(state); }

  bool operator==(const ScrollPhaseMachine&) const = default;
};

}  // namespace glidemate
