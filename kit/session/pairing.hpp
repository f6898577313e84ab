#pragma once

#include <cstdint>
#include <string_view>

#include "kit/session/sha256.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// The commit-and-reveal scheme of the pairing rounds. In each round both
// ends commit to one bit of the code, a fresh nonce and both ephemeral
// public keys, exchange commitments, then reveal the nonces. A side's label
// enters the hash so that one end cannot echo the other's commitment back.
namespace Pairing {

enum class Side { client, host };

inline constexpr std::string_view clientLabel = "glidemate/commit/client/v1";
inline constexpr std::string_view hostLabel = "glidemate/commit/host/v1";
inline constexpr std::size_t nonceSize = 16;

std::string_view label(Side side);

// 16 bytes from the secure random source.
Bytes freshNonce();

// SHA-256(label ‖ nonce ‖ bit byte ‖ client ephemeral ‖ host ephemeral).
Sha256::Digest commitment(Side side, ByteView nonce, std::uint8_t bit, ByteView clientEphemeral,
                          ByteView hostEphemeral);

// Recomputes the commitment and compares it in constant time; false at once
// for a commitment that is not 32 bytes.
bool verify(ByteView commitment, Side side, ByteView nonce, std::uint8_t bit, ByteView clientEphemeral,
            ByteView hostEphemeral);

}  // namespace Pairing
}  // namespace glidemate
