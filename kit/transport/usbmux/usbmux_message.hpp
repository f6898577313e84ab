#pragma once

#include <cstdint>
#include <optional>

#include "kit/transport/usbmux/usbmux_packet.hpp"
#include "kit/transport/usbmux/usbmux_response.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// The property-list requests sent to the daemon and the reading of its
// replies. Requests are XML dictionaries that also name this program
// ("ClientVersionString", "ProgName").
namespace USBMuxMessage {

// Subscribes the connection to attach and detach notices.
USBMuxPacket listen(std::uint32_t tag);

// Asks the daemon to turn the connection into a byte stream to `port` on
// the device. The port travels in network byte order read as a
// little-endian number (27183 is sent as 12138), as the daemon expects.
USBMuxPacket connect(std::uint32_t deviceId, std::uint16_t port, std::uint32_t tag);

// Nothing when the payload is not an XML property-list dictionary, lacks
// "MessageType" or a key that its type requires, or holds a value of the
// wrong type.
std::optional<USBMuxResponse> parse(ByteView payload);

}  // namespace USBMuxMessage

}  // namespace glidemate
