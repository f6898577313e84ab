#pragma once

#include <openssl/crypto.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// A fixed-size secret (a key, a shared secret, key material) that wipes its
// bytes whenever it lets go of them: on destruction, on being moved from and
// on being overwritten. It has no text form, so it cannot end up in a log or
// an error message by accident.
template <std::size_t N>
class SecretBytes {
 public:
  static constexpr std::size_t byteCount = N;

  // All zero bytes.
  SecretBytes() = default;
  // Throws std::invalid_argument unless `bytes` holds exactly N bytes.
  explicit SecretBytes(ByteView bytes) {
    if (bytes.size() != N) {
      throw std::invalid_argument("a secret of " + std::to_string(N) + " bytes was expected, got " +
                                  std::to_string(bytes.size()));
    }
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
  }

  SecretBytes(const SecretBytes&) = default;
  SecretBytes(SecretBytes&& other) noexcept : bytes_(other.bytes_) { other.wipe(); }
  SecretBytes& operator=(const SecretBytes&) = default;
  SecretBytes& operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
      bytes_ = other.bytes_;
      other.wipe();
    }
    return *this;
  }
  ~SecretBytes() { wipe(); }

  ByteView view() const { return ByteView(bytes_); }
  const std::uint8_t* data() const { return bytes_.data(); }
  // For primitives that write the secret in place.
  std::span<std::uint8_t, N> writable() { return std::span<std::uint8_t, N>(bytes_); }

  // Compares in constant time, so that timing does not reveal how many
  // leading bytes two keys share.
  friend bool operator==(const SecretBytes& a, const SecretBytes& b) {
    return CRYPTO_memcmp(a.bytes_.data(), b.bytes_.data(), N) == 0;
  }

 private:
  void wipe() { OPENSSL_cleanse(bytes_.data(), N); }

  std::array<std::uint8_t, N> bytes_{};
};

// Every symmetric key of the protocol is 32 bytes (256 bits).
using SymmetricKey = SecretBytes<32>;
// The X25519 shared secret of two key pairs.
using SharedSecret = SecretBytes<32>;

}  // namespace glidemate
