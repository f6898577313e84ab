#include "host/input/key_chord.hpp"

#include <array>
#include <utility>

#include "host/input/virtual_key.hpp"

namespace glidemate::host {

void postKeyChord(EventPoster& poster, const std::optional<EventSource>& source, std::uint16_t keyCode,
                  std::uint64_t flags) {
  static constexpr std::array<std::pair<std::uint64_t, std::uint16_t>, 4> modifierKeys{{
      {EventFlags::maskCommand, VirtualKey::command},
      {EventFlags::maskShift, VirtualKey::shift},
      {EventFlags::maskAlternate, VirtualKey::option},
      {EventFlags::maskControl, VirtualKey::control},
  }};
  std::array<std::uint16_t, 4> held{};
  std::size_t count = 0;
  for (const auto& [mask, key] : modifierKeys) {
    if (flags & mask) held[count++] = key;
  }

  for (std::size_t i = 0; i < count; ++i) {
    poster.post(KeyboardEvent{source, held[i], true, std::nullopt, {}}, EventTapLocation::hid);
  }
  poster.post(KeyboardEvent{source, keyCode, true, flags, {}}, EventTapLocation::hid);
  poster.post(KeyboardEvent{source, keyCode, false, flags, {}}, EventTapLocation::hid);
  for (std::size_t i = count; i-- > 0;) {
    poster.post(KeyboardEvent{source, held[i], false, std::nullopt, {}}, EventTapLocation::hid);
  }
}

}  // namespace glidemate::host
