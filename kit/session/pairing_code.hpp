#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace glidemate {

// The six-digit code the host shows and the user types on the phone. It is
// never sent: the pairing rounds prove, one bit at a time, that both ends
// hold the same 20-bit value.
class PairingCode {
 public:
  static constexpr int digitCount = 6;
  static constexpr int bitCount = 20;  // 1 000 000 < 2^20
  static constexpr std::uint32_t valueLimit = 1'000'000;

  // None for a value of 1 000 000 or more.
  static std::optional<PairingCode> fromValue(std::uint32_t value);
  // None unless the text is exactly six ASCII digits: no blanks, no sign,
  // no other script's digits.
  static std::optional<PairingCode> fromText(std::string_view text);
  // Uniform over 0...999 999 from the secure random source.
  static PairingCode random();
  // The same draw from a given source of 32-bit values: the low 20 bits of
  // each draw are taken, and draws of 1 000 000 or more are thrown away
  // rather than reduced, which would favour the low codes.
  static PairingCode random(const std::function<std::uint32_t()>& draw);

  std::uint32_t value() const { return value_; }
  // Six digits with leading zeros: the value 7 reads "000007".
  std::string digits() const;
  // Bit `index` (0 = least significant) of the value. Throws
  // std::out_of_range unless 0 <= index < 20.
  std::uint8_t bit(int index) const;

  bool operator==(const PairingCode&) const = default;

 private:
  explicit PairingCode(std::uint32_t value) : value_(value) {}

  std::uint32_t value_;
};

}  // namespace glidemate
