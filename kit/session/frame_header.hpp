#pragma once

#include <array>
#include <cstdint>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// The clear 12-byte header in front of every protected frame. Its wire form
// is at once the AEAD nonce and the associated data, so a receiver
// authenticates exactly the bytes it parsed.
struct FrameHeader {
  static constexpr std::size_t byteCount = 12;
  static constexpr std::uint8_t currentVersion = 1;
  using Encoded = std::array<std::uint8_t, byteCount>;

  std::uint8_t version = currentVersion;
  bool isUnreliable = false;
  std::uint16_t sessionId = 0;
  std::uint64_t sequence = 0;

  FrameHeader() = default;
  FrameHeader(bool unreliable, std::uint16_t session, std::uint64_t seq)
      : isUnreliable(unreliable), sessionId(session), sequence(seq) {}

  // version, flags (bit 0 = unreliable), session id and sequence, all
  // little-endian.
  Encoded encoded() const;

  // Reads the wire form from the start of `data`; later bytes are not
  // looked at. Throws CryptoError::unsupportedFrameVersion when the first
  // byte is not 1 (before anything else is read) and CodecError::truncated
  // when the bytes run out. Only bit 0 of the flags is read, so that
  // future flags do not break this reader.
  static FrameHeader decode(ByteView data);

  bool operator==(const FrameHeader&) const = default;
};

}  // namespace glidemate
