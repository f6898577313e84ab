#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <span>

#include "kit/session/secret_bytes.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// The IETF ChaCha20-Poly1305 AEAD under one fixed key. The key is set up in
// one library context when the object is made, and each seal or open only
// loads a new nonce into it, so that sealing a small frame costs no
// allocation and no key schedule.
class ChaCha20Poly1305 {
 public:
  static constexpr std::size_t nonceSize = 12;
  static constexpr std::size_t tagSize = 16;
  using Nonce = std::span<const std::uint8_t, nonceSize>;

  explicit ChaCha20Poly1305(const SymmetricKey& key);
  ChaCha20Poly1305(const ChaCha20Poly1305& other);
  ChaCha20Poly1305& operator=(const ChaCha20Poly1305& other);
  ChaCha20Poly1305(ChaCha20Poly1305&&) noexcept;
  ChaCha20Poly1305& operator=(ChaCha20Poly1305&&) noexcept;
  ~ChaCha20Poly1305();

  const SymmetricKey& key() const { return key_; }

  // Writes ciphertext ‖ tag, plaintext.size() + tagSize bytes, to `out`
  // (which must have exactly that size and must not overlap the plaintext).
  // Throws CryptoLibraryError only when the library itself fails.
  void seal(Nonce nonce, ByteView associatedData, ByteView plaintext, std::span<std::uint8_t> out);

  // Authenticates ciphertext ‖ tag and writes the plaintext,
  // sealed.size() - tagSize bytes, to `out`. Returns false when the input is
  // shorter than a tag or does not authenticate; `out` is then wiped.
  bool open(Nonce nonce, ByteView associatedData, ByteView sealed, std::span<std::uint8_t> out);

 private:
  struct Free {
    void operator()(EVP_CIPHER_CTX* ctx) const;
  };
  static std::unique_ptr<EVP_CIPHER_CTX, Free> makeContext(const SymmetricKey& key);

  SymmetricKey key_;
  std::unique_ptr<EVP_CIPHER_CTX, Free> ctx_;
};

}  // namespace glidemate
