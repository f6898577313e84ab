#pragma once

#include <cstdint>
#include <stdexcept>

namespace glidemate {

// Status codes of the key store, as the system keychain numbers them.
namespace KeychainStatus {
inline constexpr std::int32_t success = 0;
inline constexpr std::int32_t diskFull = -34;
inline constexpr std::int32_t ioError = -36;
inline constexpr std::int32_t parameterError = -50;
inline constexpr std::int32_t writePermissionError = -61;
inline constexpr std::int32_t duplicateItem = -25299;
inline constexpr std::int32_t itemNotFound = -25300;
}  // namespace KeychainStatus

// A key-store write that failed, with its status code.
class KeychainError : public std::runtime_error {
 public:
  explicit KeychainError(std::int32_t status);
  std::int32_t status() const { return status_; }
  friend bool operator==(const KeychainError& a, const KeychainError& b) {
    return a.status_ == b.status_;
  }

 private:
  std::int32_t status_;
};

}  // namespace glidemate
