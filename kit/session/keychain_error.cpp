#include "kit/session/keychain_error.hpp"

#include <string>

namespace glidemate {
namespace {

std::string describe(std::int32_t status) {
  switch (status) {
    case KeychainStatus::diskFull:
      return "The disk is full, so the key could not be saved.";
    case KeychainStatus::ioError:
      return "A read or write error occurred in the key store.";
    case KeychainStatus::parameterError:
      return "The key store was given an identifier it cannot keep.";
    case KeychainStatus::writePermissionError:
      return "The key store is not writable.";
    case KeychainStatus::itemNotFound:
      return "The item could not be found in the key store.";
    default:
      return "Keychain error " + std::to_string(status);
  }
}

}  // namespace

KeychainError::KeychainError(std::int32_t status) : std::runtime_error(describe(status)), status_(status) {}

}  // namespace glidemate
