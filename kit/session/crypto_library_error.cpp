#include "kit/session/crypto_library_error.hpp"

#include <openssl/err.h>

#include <array>

namespace glidemate {
namespace {

std::string describe(const std::string& operation) {
  std::string text = operation + " failed";
  const unsigned long code = ERR_get_error();
  if (code != 0) {
    std::array<char, 256> reason{};
    ERR_error_string_n(code, reason.data(), reason.size());
    text += ": ";
    text += reason.data();
  }
  ERR_clear_error();
  return text;
}

}  // namespace

CryptoLibraryError::CryptoLibraryError(const std::string& operation)
    : std::runtime_error(describe(operation)), operation_(operation) {}

}  // namespace glidemate
