#include "kit/wire/message.hpp"

namespace glidemate {

Channel Message::preferredChannel() const {
  if (std::holds_alternative<Ping>(value) || std::holds_alternative<Pong>(value) ||
      std::holds_alternative<PointerMove>(value)) {
    return Channel::unreliable;
  }
  if (const auto* scroll = std::get_if<Scroll>(&value)) {
    return scroll->phase == ScrollGesturePhase::changed ? Channel::unreliable : Channel::reliable;
  }
  return Channel::reliable;
}

}  // namespace glidemate
