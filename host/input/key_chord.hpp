#pragma once

#include <cstdint>
#include <optional>

#include "host/input/event_poster.hpp"

namespace glidemate::host {

// Presses and releases one key with modifiers, as a person would: each
// modifier key the flags name goes down first (command, shift, option,
// control), the key goes down and up carrying the flags, and the modifiers
// come up in reverse order.
void postKeyChord(EventPoster& poster, const std::optional<EventSource>& source, std::uint16_t keyCode,
                  std::uint64_t flags);

}  // namespace glidemate::host
