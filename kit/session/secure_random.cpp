#include "kit/session/secure_random.hpp"

#include <openssl/rand.h>

#include <array>
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

namespace {

template <class T>
T nextValue() {
  std::uint8_t raw[sizeof(T)];
  fill(raw);
  T value;
  std::memcpy(&value, raw, sizeof value);
  return value;
}

}  // namespace

std::uint32_t next32() { return nextValue<std::uint32_t>(); }
std::uint64_t next64() { return nextValue<std::uint64_t>(); }

std::string uuid() {
  std::array<std::uint8_t, 16> value{};
  fill(value);
  value[6] = static_cast<std::uint8_t>((value[6] & 0x0F) | 0x40);
  value[8] = static_cast<std::uint8_t>((value[8] & 0x3F) | 0x80);
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(digits[value[i] >> 4]);
    out.push_back(digits[value[i] & 0x0F]);
  }
  return out;
}

}  // namespace glidemate::SecureRandom
