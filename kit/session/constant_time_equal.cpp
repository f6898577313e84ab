#include "kit/session/constant_time_equal.hpp"

#include <openssl/crypto.h>

namespace glidemate {

bool constantTimeEqual(ByteView a, ByteView b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace glidemate
