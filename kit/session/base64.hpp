#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Standard Base64 (RFC 4648 alphabet, with padding), as byte fields travel
// in handshake JSON and in stored key items.
namespace Base64 {

std::string encode(ByteView bytes);
// None unless the text is canonical-length standard Base64: a multiple of
// four characters from the standard alphabet, with at most two '=' and
// only at the end. No whitespace is skipped.
std::optional<Bytes> decode(std::string_view text);

}  // namespace Base64
}  // namespace glidemate
