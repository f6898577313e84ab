#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <string>

#include "kit/session/frame_cipher.hpp"
#include "kit/session/pairing.hpp"
#include "kit/session/pairing_code.hpp"
#include "kit/session/pairing_provider.hpp"
#include "kit/session/secret_bytes.hpp"
#include "kit/session/session_inbox.hpp"
#include "kit/session/session_role.hpp"
#include "kit/session/sha256.hpp"
#include "kit/session/x25519_key_pair.hpp"
#include "kit/transport/transport.hpp"
#include "kit/wire/status.hpp"

namespace glidemate {

// The steps of one handshake, in either role: the hello exchange, then
// either authentication with the stored long-term key or pairing through
// twenty commit-and-reveal rounds over the code's bits, then key
// confirmation. It reads records from the session's inbox and writes
// handshake records to the transport; it sends no Failure itself (the
// session does, for every error but the peer's own).
//
// Holds the handshake's working values (ephemeral key pair, shared secret,
// transcript) only for its own life, which is that of one
// Session::performHandshake() call. Its references must outlive run().
class SessionHandshake {
 public:
  struct Result {
    PeerInfo peer;
    FrameCipher cipher;
    std::uint16_t sessionId;
  };

  SessionHandshake(SessionRole role, Transport& transport, SessionInbox& inbox, PairingProvider& pairing,
                   PeerInfo localInfo, std::optional<std::string> expectedPeerId);

  // Throws HandshakeError, CryptoLibraryError for a malformed ephemeral
  // key, or a transport or codec error.
  asio::awaitable<Result> run();

 private:
  template <class M>
  struct Received {
    M message;
    Bytes json;
  };
  using Transcript = Sha256::Digest;

  asio::awaitable<Result> runHost();
  asio::awaitable<Result> confirmAsHost(std::optional<SymmetricKey> storedKey, std::optional<PairingCode> code,
                                        std::uint16_t sessionId);
  asio::awaitable<Result> runClient();
  asio::awaitable<Result> confirmAsClient(SymmetricKey longTermKey, bool pairing);
  asio::awaitable<void> exchangePairingRounds(PairingCode code);

  template <class M>
  asio::awaitable<Received<M>> expect();
  // Sends the message in a handshake record; returns its JSON bytes.
  template <class M>
  asio::awaitable<Bytes> send(const M& message);

  SessionRole role_;
  Transport& transport_;
  SessionInbox& inbox_;
  PairingProvider& pairing_;
  PeerInfo localInfo_;
  std::optional<std::string> expectedPeerId_;

  X25519KeyPair keyPair_;
  Bytes clientEphemeral_;
  Bytes hostEphemeral_;
  SharedSecret sharedSecret_;
  Transcript transcript_{};
  PeerInfo peer_;
};

}  // namespace glidemate
