#pragma once

#include <cstdint>
#include <string_view>

namespace glidemate {

namespace GlidemateProtocol {
// The DNS-SD service type hosts advertise.
inline constexpr std::string_view serviceType = "_glidemate._tcp";
// The protocol version exchanged in the handshake.
inline constexpr int version = 1;
// The TCP port on the phone that the host reaches through the cable multiplexer.
inline constexpr std::uint16_t usbPort = 27183;
}  // namespace GlidemateProtocol

namespace ScreenPreview {
// Preview frames travel as icon chunks under this reserved identifier.
inline constexpr std::string_view frameId = "$screen";
}  // namespace ScreenPreview

namespace NowPlaying {
// Now-playing artwork travels as icon chunks under this reserved identifier.
inline constexpr std::string_view artworkId = "$artwork";
}  // namespace NowPlaying

namespace Clipboard {
// The most clipboard text, in UTF-8 bytes, carried either way.
inline constexpr std::size_t maxBytes = 30000;
}  // namespace Clipboard

}  // namespace glidemate
