#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <variant>

namespace glidemate {

// Every way a handshake can fail. The session sends the peer a Failure
// message with failureReason(for:) of the error, except when the peer's own
// Failure caused it.
class HandshakeError : public std::runtime_error {
 public:
  struct IncompatibleVersion {
    std::int64_t theirs;
    std::int64_t ours;
    bool operator==(const IncompatibleVersion&) const = default;
  };
  struct PeerReported {
    std::string reason;
    bool operator==(const PeerReported&) const = default;
  };
  struct Refused {
    std::string reason;
    bool operator==(const Refused&) const = default;
  };
  struct UnexpectedRecord {
    bool operator==(const UnexpectedRecord&) const = default;
  };
  struct ConnectionClosed {
    bool operator==(const ConnectionClosed&) const = default;
  };
  struct DecodingFailed {
    bool operator==(const DecodingFailed&) const = default;
  };
  struct NotPaired {
    bool operator==(const NotPaired&) const = default;
  };
  struct PairingRefused {
    bool operator==(const PairingRefused&) const = default;
  };
  struct PairingCodeMismatch {
    bool operator==(const PairingCodeMismatch&) const = default;
  };
  struct AuthenticationFailed {
    bool operator==(const AuthenticationFailed&) const = default;
  };
  using Case = std::variant<IncompatibleVersion, PeerReported, Refused, UnexpectedRecord, ConnectionClosed,
                            DecodingFailed, NotPaired, PairingRefused, PairingCodeMismatch, AuthenticationFailed>;

  explicit HandshakeError(Case c);

  static HandshakeError incompatibleVersion(std::int64_t theirs, std::int64_t ours) {
    return HandshakeError(IncompatibleVersion{theirs, ours});
  }
  static HandshakeError peerReported(std::string reason) { return HandshakeError(PeerReported{std::move(reason)}); }
  static HandshakeError refused(std::string reason) { return HandshakeError(Refused{std::move(reason)}); }
  static HandshakeError unexpectedRecord() { return HandshakeError(UnexpectedRecord{}); }
  static HandshakeError connectionClosed() { return HandshakeError(ConnectionClosed{}); }
  static HandshakeError decodingFailed() { return HandshakeError(DecodingFailed{}); }
  static HandshakeError notPaired() { return HandshakeError(NotPaired{}); }
  static HandshakeError pairingRefused() { return HandshakeError(PairingRefused{}); }
  static HandshakeError pairingCodeMismatch() { return HandshakeError(PairingCodeMismatch{}); }
  static HandshakeError authenticationFailed() { return HandshakeError(AuthenticationFailed{}); }

  const Case& which() const { return case_; }
  friend bool operator==(const HandshakeError& a, const HandshakeError& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

// The reason text of the Failure message sent for an error that ends a
// handshake. Errors that are not HandshakeErrors (transport, codec,
// library) all read "handshake failed", so that nothing internal leaks to
// the peer.
std::string failureReason(const std::exception& error);

}  // namespace glidemate
