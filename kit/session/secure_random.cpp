#include "kit/session/secure_random.hpp"

#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "kit/session/crypto_library_error.hpp"

namespace glidemate::SecureRandom {

void fill(std::span<std::uint8_t> out) {
  while (!out.empty()) {
    const std::size_t chunk = std::min<std::size_t>(out.size(), INT_MAX);
    if (RAND_bytes(out.data(), static_cast<int>(chunk)) != 1) throw CryptoLibraryError("RAND_bytes");
    out = out.subspan(chunk);
  }
}

Bytes bytes(std::size_t count) {
  Bytes out(count);
  fill(out);
  return out;
}

std::uint32_t next32() {
  std::uint8_t raw[4];
  fill(raw);
  std::uint32_t value;
  std::memcpy(&value, raw, sizeof value);
  return value;
}

std::uint64_t next64() {
  std::uint8_t raw[8];
  fill(raw);
  std::uint64_t value;
  std::memcpy(&value, raw, sizeof value);
  return value;
}

}  // namespace glidemate::SecureRandom
