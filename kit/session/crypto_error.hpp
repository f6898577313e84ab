#pragma once

#include <cstdint>
#include <stdexcept>
#include <variant>

namespace glidemate {

// Every way a protected frame can be refused.
class CryptoError : public std::runtime_error {
 public:
  struct UnsupportedFrameVersion {
    std::uint8_t version;
    bool operator==(const UnsupportedFrameVersion&) const = default;
  };
  // Kept for completeness of the error set: a frame the replay window
  // refuses. The session drops such frames without raising it.
  struct Replayed {
    std::uint64_t sequence;
    bool operator==(const Replayed&) const = default;
  };
  struct OutOfOrder {
    std::uint64_t expected;
    std::uint64_t got;
    bool operator==(const OutOfOrder&) const = default;
  };
  struct FrameTooShort {
    bool operator==(const FrameTooShort&) const = default;
  };
  struct DecryptionFailed {
    bool operator==(const DecryptionFailed&) const = default;
  };
  using Case = std::variant<UnsupportedFrameVersion, Replayed, OutOfOrder, FrameTooShort, DecryptionFailed>;

  explicit CryptoError(Case c);

  static CryptoError unsupportedFrameVersion(std::uint8_t v) { return CryptoError(UnsupportedFrameVersion{v}); }
  static CryptoError replayed(std::uint64_t s) { return CryptoError(Replayed{s}); }
  static CryptoError outOfOrder(std::uint64_t expected, std::uint64_t got) {
    return CryptoError(OutOfOrder{expected, got});
  }
  static CryptoError frameTooShort() { return CryptoError(FrameTooShort{}); }
  static CryptoError decryptionFailed() { return CryptoError(DecryptionFailed{}); }

  const Case& which() const { return case_; }
  friend bool operator==(const CryptoError& a, const CryptoError& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

}  // namespace glidemate
