#include "kit/session/frame_header.hpp"

#include "kit/session/crypto_error.hpp"
#include "kit/wire/byte_reader.hpp"

namespace glidemate {

FrameHeader::Encoded FrameHeader::encoded() const {
  Encoded out{};
  out[0] = version;
  out[1] = isUnreliable ? 0x01 : 0x00;
  for (std::size_t i = 0; i < 2; ++i) out[2 + i] = static_cast<std::uint8_t>(sessionId >> (8 * i));
  for (std::size_t i = 0; i < 8; ++i) out[4 + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
  return out;
}

FrameHeader FrameHeader::decode(ByteView data) {
  ByteReader reader(data);
  const std::uint8_t version = reader.readU8();
  if (version != currentVersion) throw CryptoError::unsupportedFrameVersion(version);
  const std::uint8_t flags = reader.readU8();
  const std::uint16_t sessionId = reader.readU16();
  const std::uint64_t sequence = reader.readU64();
  return FrameHeader((flags & 0x01) != 0, sessionId, sequence);
}

}  // namespace glidemate
