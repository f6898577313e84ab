#include "kit/session/frame_cipher.hpp"

#include <algorithm>

#include "kit/session/crypto_error.hpp"

namespace glidemate {

FrameCipher::FrameCipher(const SymmetricKey& sendKey, const SymmetricKey& receiveKey)
    : sender_(sendKey), receiver_(receiveKey) {}

FrameCipher::FrameCipher(const SessionKeys& keys, SessionRole role)
    : FrameCipher(keys.sendKey(role), keys.receiveKey(role)) {}

Bytes FrameCipher::seal(ByteView plaintext, const FrameHeader& header) {
  Bytes frame;
  seal(plaintext, header, frame);
  return frame;
}

void FrameCipher::seal(ByteView plaintext, const FrameHeader& header, Bytes& out) {
  const std::size_t start = out.size();
  out.resize(start + minimumFrameSize + plaintext.size());
  const FrameHeader::Encoded h = header.encoded();
  std::copy(h.begin(), h.end(), out.begin() + static_cast<std::ptrdiff_t>(start));
  sender_.seal(ChaCha20Poly1305::Nonce(h), h, plaintext,
               std::span<std::uint8_t>(out).subspan(start + FrameHeader::byteCount));
}

FrameCipher::Opened FrameCipher::open(ByteView frame) {
  if (frame.size() < minimumFrameSize) throw CryptoError::frameTooShort();
  const FrameHeader header = FrameHeader::decode(frame);
  const ByteView clearHeader = frame.first(FrameHeader::byteCount);
  Opened opened{header, Bytes(frame.size() - minimumFrameSize)};
  if (!receiver_.open(ChaCha20Poly1305::Nonce(clearHeader.first<FrameHeader::byteCount>()), clearHeader,
                      frame.subspan(FrameHeader::byteCount), opened.plaintext)) {
    throw CryptoError::decryptionFailed();
  }
  return opened;
}

}  // namespace glidemate
