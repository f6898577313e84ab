#pragma once

#include <cstddef>
#include <cstdint>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// The decoded header of a packet from the daemon. decode() validates it
// before anyone reads (or allocates room for) the payload it announces.
struct USBMuxHeader {
  std::int64_t length = 0;
  std::uint32_t version = 0;
  std::uint32_t message = 0;
  std::uint32_t tag = 0;

  std::size_t payloadLength() const;

  // Reads the first 16 bytes of `data`. Throws USBMuxError: malformedPacket
  // for fewer than 16 bytes or a length below 16, unsupportedVersion for a
  // version other than 1, payloadTooLarge for a payload above 1 MiB.
  static USBMuxHeader decode(ByteView data);

  bool operator==(const USBMuxHeader&) const = default;
};

}  // namespace glidemate
