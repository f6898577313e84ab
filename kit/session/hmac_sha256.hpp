#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "kit/wire/bytes.hpp"

namespace glidemate {

namespace HmacSha256 {

inline constexpr std::size_t macSize = 32;
using Mac = std::array<std::uint8_t, macSize>;

// HMAC-SHA256 under `key` of the concatenation of `parts`.
Mac mac(ByteView key, std::initializer_list<ByteView> parts);

}  // namespace HmacSha256
}  // namespace glidemate
