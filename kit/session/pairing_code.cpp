#include "kit/session/pairing_code.hpp"

#include <cstdio>
#include <stdexcept>

#include "kit/session/secure_random.hpp"

namespace glidemate {

std::optional<PairingCode> PairingCode::fromValue(std::uint32_t value) {
  if (value >= valueLimit) return std::nullopt;
  return PairingCode(value);
}

std::optional<PairingCode> PairingCode::fromText(std::string_view text) {
  if (text.size() != static_cast<std::size_t>(digitCount)) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return fromValue(value);
}

PairingCode PairingCode::random() { return random(SecureRandom::next32); }

PairingCode PairingCode::random(const std::function<std::uint32_t()>& draw) {
  constexpr std::uint32_t mask = (std::uint32_t{1} << bitCount) - 1;
  for (;;) {
    const std::uint32_t candidate = draw() & mask;
    if (candidate < valueLimit) return PairingCode(candidate);
  }
}

std::string PairingCode::digits() const {
  char text[16];
  std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(value_));
  return text;
}

std::uint8_t PairingCode::bit(int index) const {
  if (index < 0 || index >= bitCount) {
    throw std::out_of_range("pairing code bit " + std::to_string(index) + " does not exist");
  }
  return static_cast<std::uint8_t>((value_ >> index) & 1);
}

}  // namespace glidemate
