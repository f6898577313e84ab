#pragma once

#include "kit/session/secret_bytes.hpp"
#include "kit/session/session_role.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// The four keys of one session, derived from the ephemeral shared secret,
// the long-term key of the pair and the transcript of the hello exchange:
// one frame key per direction and one confirmation (MAC) key per side.
struct SessionKeys {
  SymmetricKey clientToHost;
  SymmetricKey hostToClient;
  SymmetricKey clientConfirm;
  SymmetricKey hostConfirm;

  // HKDF-SHA256(ikm: shared secret, salt: long-term key,
  // info: "glidemate/session/v1" ‖ transcript), 128 bytes split in four.
  static SessionKeys derive(const SharedSecret& sharedSecret, const SymmetricKey& longTermKey,
                            ByteView transcript);

  // The long-term key a pairing creates: HKDF-SHA256(ikm: shared secret,
  // salt: transcript, info: "glidemate/ltk/v1"), 32 bytes.
  static SymmetricKey deriveLongTermKey(const SharedSecret& sharedSecret, ByteView transcript);

  const SymmetricKey& sendKey(SessionRole role) const {
    return role == SessionRole::host ? hostToClient : clientToHost;
  }
  const SymmetricKey& receiveKey(SessionRole role) const {
    return role == SessionRole::host ? clientToHost : hostToClient;
  }

  bool operator==(const SessionKeys&) const = default;
};

}  // namespace glidemate
