#pragma once

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing
// above U+10FFFF.
bool isValidUtf8(ByteView bytes);

}  // namespace glidemate
