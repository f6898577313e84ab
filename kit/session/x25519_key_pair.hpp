#pragma once

#include <openssl/types.h>

#include <array>
#include <cstdint>
#include <memory>

#include "kit/session/secret_bytes.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// An X25519 key pair. Each handshake makes a fresh one and drops it when the
// handshake ends; the private key stays inside the library, which wipes it
// when the pair is destroyed.
class X25519KeyPair {
 public:
  static constexpr std::size_t keySize = 32;
  using PublicKey = std::array<std::uint8_t, keySize>;

  // A fresh pair from the secure random source.
  static X25519KeyPair generate();
  // A pair from a known private key (the standard's test vectors).
  static X25519KeyPair fromPrivateKey(const SecretBytes<keySize>& privateKey);

  const PublicKey& publicKey() const { return publicKey_; }

  // The shared secret with a peer's raw public key. Throws
  // CryptoLibraryError for a key that is not 32 bytes or that yields the
  // all-zero secret (a small-order point, which would fix the secret no
  // matter what our own key is).
  SharedSecret sharedSecret(ByteView peerPublicKey) const;

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const;
  };
  explicit X25519KeyPair(EVP_PKEY* key);

  std::unique_ptr<EVP_PKEY, Free> key_;
  PublicKey publicKey_{};
};

}  // namespace glidemate
