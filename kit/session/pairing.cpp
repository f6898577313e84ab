#include "kit/session/pairing.hpp"

#include "kit/session/constant_time_equal.hpp"
#include "kit/session/secure_random.hpp"

namespace glidemate::Pairing {

std::string_view label(Side side) { return side == Side::client ? clientLabel : hostLabel; }

Bytes freshNonce() { return SecureRandom::bytes(nonceSize); }

Sha256::Digest commitment(Side side, ByteView nonce, std::uint8_t bit, ByteView clientEphemeral,
                          ByteView hostEphemeral) {
  const std::string_view text = label(side);
  const ByteView labelBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return Sha256::hash({labelBytes, nonce, ByteView(&bit, 1), clientEphemeral, hostEphemeral});
}

bool verify(ByteView commitmentBytes, Side side, ByteView nonce, std::uint8_t bit, ByteView clientEphemeral,
            ByteView hostEphemeral) {
  if (commitmentBytes.size() != Sha256::digestSize) return false;
  const Sha256::Digest expected = commitment(side, nonce, bit, clientEphemeral, hostEphemeral);
  return constantTimeEqual(commitmentBytes, expected);
}

}  // namespace glidemate::Pairing
