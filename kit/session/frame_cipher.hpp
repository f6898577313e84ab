#pragma once

#include "kit/session/chacha20_poly1305.hpp"
#include "kit/session/frame_header.hpp"
#include "kit/session/secret_bytes.hpp"
#include "kit/session/session_keys.hpp"
#include "kit/session/session_role.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// Seals and opens protected frames: header ‖ ChaCha20-Poly1305 ciphertext ‖
// 16-byte tag, with the 12 header bytes as both nonce and associated data.
// One key per direction; each direction keeps its own cipher context for the
// life of the session.
class FrameCipher {
 public:
  static constexpr std::size_t minimumFrameSize = FrameHeader::byteCount + ChaCha20Poly1305::tagSize;

  struct Opened {
    FrameHeader header;
    Bytes plaintext;
    bool operator==(const Opened&) const = default;
  };

  FrameCipher(const SymmetricKey& sendKey, const SymmetricKey& receiveKey);
  // The client sends with clientToHost and receives with hostToClient; the
  // host the other way round.
  FrameCipher(const SessionKeys& keys, SessionRole role);

  const SymmetricKey& sendKey() const { return sender_.key(); }
  const SymmetricKey& receiveKey() const { return receiver_.key(); }

  // The protected frame: 28 bytes more than the plaintext.
  Bytes seal(ByteView plaintext, const FrameHeader& header);
  // Appends the protected frame to `out`, so that a record can be sealed
  // behind its head without a buffer of its own.
  void seal(ByteView plaintext, const FrameHeader& header, Bytes& out);

  // Failure order: CryptoError::frameTooShort under 28 bytes, then
  // unsupportedFrameVersion from the header, then decryptionFailed for
  // anything that does not authenticate. Checks neither session id nor
  // sequence; that is the session's job.
  Opened open(ByteView frame);

 private:
  ChaCha20Poly1305 sender_;
  ChaCha20Poly1305 receiver_;
};

}  // namespace glidemate
