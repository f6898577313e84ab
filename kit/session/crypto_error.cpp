#include "kit/session/crypto_error.hpp"

#include <string>

#include "kit/wire/overload.hpp"

namespace glidemate {
namespace {

std::string describe(const CryptoError::Case& c) {
  return std::visit(
      Overload{
          [](const CryptoError::UnsupportedFrameVersion& e) {
            return "unsupported frame version " + std::to_string(e.version);
          },
          [](const CryptoError::Replayed& e) { return "frame " + std::to_string(e.sequence) + " replayed"; },
          [](const CryptoError::OutOfOrder& e) {
            return "frame out of order: expected " + std::to_string(e.expected) + ", got " +
                   std::to_string(e.got);
          },
          [](const CryptoError::FrameTooShort&) { return std::string("frame too short"); },
          [](const CryptoError::DecryptionFailed&) { return std::string("frame failed to decrypt"); },
      },
      c);
}

}  // namespace

CryptoError::CryptoError(Case c) : std::runtime_error(describe(c)), case_(c) {}

}  // namespace glidemate
