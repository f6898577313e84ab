#pragma once

#include <cstdint>
#include <optional>

#include "kit/wire/input_enums.hpp"

namespace glidemate::host {

// The system's virtual key codes for the keys the phone can press, and the
// key types of the auxiliary-control (media, brightness, keyboard light)
// keys. Platform posters translate these; the services speak only them.
namespace VirtualKey {
inline constexpr std::uint16_t ansiA = 0;  // the key text is typed on
inline constexpr std::uint16_t rightBracket = 30;
inline constexpr std::uint16_t leftBracket = 33;
inline constexpr std::uint16_t returnKey = 36;
inline constexpr std::uint16_t tab = 48;
inline constexpr std::uint16_t space = 49;
inline constexpr std::uint16_t deleteKey = 51;
inline constexpr std::uint16_t escape = 53;
inline constexpr std::uint16_t command = 55;
inline constexpr std::uint16_t shift = 56;
inline constexpr std::uint16_t option = 58;
inline constexpr std::uint16_t control = 59;
inline constexpr std::uint16_t f5 = 96;
inline constexpr std::uint16_t home = 115;
inline constexpr std::uint16_t pageUp = 116;
inline constexpr std::uint16_t forwardDelete = 117;
inline constexpr std::uint16_t end = 119;
inline constexpr std::uint16_t pageDown = 121;
inline constexpr std::uint16_t leftArrow = 123;
inline constexpr std::uint16_t rightArrow = 124;
inline constexpr std::uint16_t downArrow = 125;
inline constexpr std::uint16_t upArrow = 126;
}  // namespace VirtualKey

namespace AuxControlKey {
inline constexpr std::int32_t brightnessUp = 2;
inline constexpr std::int32_t brightnessDown = 3;
inline constexpr std::int32_t play = 16;
inline constexpr std::int32_t next = 17;
inline constexpr std::int32_t previous = 18;
inline constexpr std::int32_t illuminationUp = 21;
inline constexpr std::int32_t illuminationDown = 22;
}  // namespace AuxControlKey

// The virtual key code of an ordinary key; nothing for a system key.
std::optional<std::uint16_t> virtualKeyCode(KeyboardKey key);
// The auxiliary-control key type of a system key; nothing for an ordinary key.
std::optional<std::int32_t> auxControlKeyType(KeyboardKey key);

// The event flags a set of modifiers stands for.
std::uint64_t eventFlags(KeyModifiers modifiers);

}  // namespace glidemate::host
