#pragma once

#include <asio/awaitable.hpp>
#include <optional>
#include <string>

#include "kit/session/pairing_code.hpp"
#include "kit/session/secret_bytes.hpp"
#include "kit/wire/status.hpp"

namespace glidemate {

// The session's only way to reach stored long-term keys and pairing codes.
// The host implements it over its key store and pairing coordinator; a
// phone over its own store and the code its user typed. Every operation is
// a coroutine awaited from the session's executor; an implementation may
// hop to its own executor inside. Arguments are taken by value so that
// they outlive any suspension.
//
// Callers built with g++ 12: pass a named value, not a braced temporary
// (`co_await p.refusal(peer)`, not `co_await p.refusal(PeerInfo{...})`);
// that compiler destroys such a temporary twice inside a co_await
// expression.
class PairingProvider {
 public:
  virtual ~PairingProvider() = default;

  // The stored 32-byte long-term key for the peer, or none.
  virtual asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) = 0;
  // Host: a fresh code to show. Client: the code the user typed. None ends
  // the handshake with pairingRefused.
  virtual asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) = 0;
  // Stores the key a pairing created. Cannot fail from the session's view.
  virtual asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) = 0;
  // Host: a wrong code (or a failed key confirmation while pairing).
  // Client: the pairing that used the code the user typed failed, however
  // it failed; a peer may have learnt bits of that code from it.
  virtual asio::awaitable<void> pairingFailed(PeerInfo peer) = 0;
  // Host only, once per handshake that obtained a code. Does nothing unless
  // overridden.
  virtual asio::awaitable<void> pairingAttemptEnded(PairingCode code);
  // Host only: a text refuses the phone and is sent to it. Asked once the
  // Hello is read and again just before the phone is let in, since the user
  // may have paused the host or turned the phone away meanwhile. None unless
  // overridden.
  virtual asio::awaitable<std::optional<std::string>> refusal(PeerInfo peer);
  // Host only, just before a pairing lets the phone in: whether `code` is
  // still the one on screen (the user may have withdrawn it). True unless
  // overridden.
  virtual asio::awaitable<bool> pairingCodeIsActive(PairingCode code);
  // Client only, without an expected host: whether any long-term key is
  // held at all. False unless overridden.
  virtual asio::awaitable<bool> holdsAnyLongTermKey();
};

}  // namespace glidemate
