#pragma once

#include <cstddef>
#include <cstdint>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// One packet to or from the cable multiplexer daemon: a 16-byte header of
// little-endian words (whole length, version, message type, tag) and a
// property-list payload.
struct USBMuxPacket {
  static constexpr std::size_t headerSize = 16;
  static constexpr std::uint32_t plistVersion = 1;
  static constexpr std::uint32_t plistMessage = 8;
  // The most payload a packet may carry, in either direction.
  static constexpr std::size_t maximumPayload = 1048576;

  std::uint32_t tag = 0;
  Bytes payload;

  // The header followed by the payload. Throws USBMuxError::payloadTooLarge
  // beyond maximumPayload, which the daemon would refuse anyway.
  Bytes encoded() const;

  bool operator==(const USBMuxPacket&) const = default;
};

}  // namespace glidemate
