#pragma once

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Compares secrets-derived values (commitments, MACs) without an early exit:
// false at once when the lengths differ, otherwise every byte pair is
// visited and the XORs are ORed together.
bool constantTimeEqual(ByteView a, ByteView b);

}  // namespace glidemate
