#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool isValidUtf8(ByteView bytes);

// `bytes` made well-formed: every byte that does not begin a well-formed
// sequence becomes U+FFFD; well-formed input comes back unchanged.
std::string validUtf8(std::string_view bytes);

// The longest start of well-formed `text` that has at most `maxBytes` bytes
// and does not cut a character in two.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

}  // namespace glidemate
