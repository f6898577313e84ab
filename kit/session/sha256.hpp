#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "kit/wire/bytes.hpp"

namespace glidemate {

namespace Sha256 {

inline constexpr std::size_t digestSize = 32;
using Digest = std::array<std::uint8_t, digestSize>;

// SHA-256 of the concatenation of `parts`, without building it.
Digest hash(std::initializer_list<ByteView> parts);

}  // namespace Sha256
}  // namespace glidemate
