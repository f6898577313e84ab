#pragma once

#include <cstdint>

namespace glidemate {

// Strict order on the reliable channel: only the next number is acceptable.
// A gap there means the byte stream lost or reordered a frame, which must
// not happen on an ordered channel.
class SequenceChecker {
 public:
  // Throws CryptoError::outOfOrder(expected: next, got: sequence) and keeps
  // `next` unchanged unless `sequence` equals `next`.
  void accept(std::uint64_t sequence);

  std::uint64_t next() const { return next_; }

  bool operator==(const SequenceChecker&) const = default;

 private:
  std::uint64_t next_ = 0;
};

}  // namespace glidemate
