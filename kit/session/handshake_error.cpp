#include "kit/session/handshake_error.hpp"

#include "kit/wire/overload.hpp"

namespace glidemate {
namespace {

std::string describe(const HandshakeError::Case& c) {
  using E = HandshakeError;
  return std::visit(
      Overload{
          [](const E::IncompatibleVersion& e) {
            return "incompatible protocol version " + std::to_string(e.theirs) + " (ours is " +
                   std::to_string(e.ours) + ")";
          },
          [](const E::PeerReported& e) { return "the peer reported: " + e.reason; },
          [](const E::Refused& e) { return "refused: " + e.reason; },
          [](const E::UnexpectedRecord&) { return std::string("unexpected record during the handshake"); },
          [](const E::ConnectionClosed&) { return std::string("connection closed"); },
          [](const E::DecodingFailed&) { return std::string("handshake message did not decode"); },
          [](const E::NotPaired&) { return std::string("not paired"); },
          [](const E::PairingRefused&) { return std::string("pairing refused"); },
          [](const E::PairingCodeMismatch&) { return std::string("pairing code did not match"); },
          [](const E::AuthenticationFailed&) { return std::string("authentication failed"); },
      },
      c);
}

}  // namespace

HandshakeError::HandshakeError(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

std::string failureReason(const std::exception& error) {
  const auto* handshake = dynamic_cast<const HandshakeError*>(&error);
  if (handshake == nullptr) return "handshake failed";
  using E = HandshakeError;
  return std::visit(Overload{
                        [](const E::IncompatibleVersion&) { return std::string("protocol version mismatch"); },
                        [](const E::Refused& e) { return e.reason; },
                        [](const E::NotPaired&) { return std::string("not paired"); },
                        [](const E::PairingRefused&) { return std::string("pairing refused"); },
                        [](const E::PairingCodeMismatch&) { return std::string("pairing code did not match"); },
                        [](const E::AuthenticationFailed&) { return std::string("authentication failed"); },
                        [](const auto&) { return std::string("handshake failed"); },
                    },
                    handshake->which());
}

}  // namespace glidemate
