// Test helper: bytes written as hexadecimal text, as test vectors are
// published.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "kit/wire/bytes.hpp"

namespace glidemate::testing {

inline Bytes fromHex(std::string_view hex) {
  auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    throw std::invalid_argument("not a hex digit");
  };
  Bytes out;
  std::uint8_t high = 0;
  bool haveHigh = false;
  for (const char c : hex) {
    if (c == ' ' || c == ':' || c == '\n') continue;
    if (haveHigh) {
      out.push_back(static_cast<std::uint8_t>(high << 4 | nibble(c)));
    } else {
      high = nibble(c);
    }
    haveHigh = !haveHigh;
  }
  if (haveHigh) throw std::invalid_argument("odd number of hex digits");
  return out;
}

inline Bytes ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace glidemate::testing
