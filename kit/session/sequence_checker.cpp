#include "kit/session/sequence_checker.hpp"

#include "kit/session/crypto_error.hpp"

namespace glidemate {

void SequenceChecker::accept(std::uint64_t sequence) {
  if (sequence != next_) throw CryptoError::outOfOrder(next_, sequence);
  ++next_;
}

}  // namespace glidemate
