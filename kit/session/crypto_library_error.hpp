#pragma once

#include <stdexcept>
#include <string>

namespace glidemate {

// A primitive of the cryptographic library refused its input or failed (a
// malformed public key, an exhausted random source, an allocation failure).
// Carries the operation and the library's own description, never key bytes.
class CryptoLibraryError : public std::runtime_error {
 public:
  // Takes the description from the library's error queue and clears it.
  explicit CryptoLibraryError(const std::string& operation);

  const std::string& operation() const { return operation_; }
  friend bool operator==(const CryptoLibraryError& a, const CryptoLibraryError& b) {
    return a.operation_ == b.operation_;
  }

 private:
  std::string operation_;
};

}  // namespace glidemate
