#include "host/server/sourced_pairing.hpp"

#include "host/server/host_server.hpp"

namespace glidemate::host {

// The host server and its coordinator live on the main executor, the same
// one the host's sessions run on, so these calls need no hop of their own;
// the coordinator's provider operations hop where a hop is needed. A server
// that is gone answers like one that keeps nothing and lets nobody in.

SourcedPairing::SourcedPairing(std::weak_ptr<HostServer> server,
                               const std::shared_ptr<Transport>& transport)
    : server_(std::move(server)), source_(transport->remoteHost()) {}

asio::awaitable<std::optional<SymmetricKey>> SourcedPairing::longTermKey(std::string peerId) {
  auto server = server_.lock();
  if (!server) co_return std::nullopt;
  co_return co_await server->pairing.longTermKey(std::move(peerId));
}

asio::awaitable<std::optional<PairingCode>> SourcedPairing::beginPairing(PeerInfo peer) {
  auto server = server_.lock();
  if (!server) co_return std::nullopt;
  heldCode_ = server->pairing.beginPairing(peer.name, source_);
  co_return heldCode_;
}

asio::awaitable<void> SourcedPairing::pairingSucceeded(SymmetricKey key, PeerInfo peer) {
  if (auto server = server_.lock()) server->pairing.recordPairing(key, peer);
  co_return;
}

asio::awaitable<void> SourcedPairing::pairingFailed(PeerInfo) {
  if (auto server = server_.lock()) server->pairing.recordWrongCode();
  co_return;
}

asio::awaitable<void> SourcedPairing::pairingAttemptEnded(PairingCode code) {
  // Let go of the code first: taking it down must not look like the user
  // withdrawing it from a handshake that still holds it.
  heldCode_.reset();
  if (auto server = server_.lock()) server->pairing.endAttempt(code);
  co_return;
}

asio::awaitable<std::optional<std::string>> SourcedPairing::refusal(PeerInfo peer) {
  peerId_ = peer.id;
  auto server = server_.lock();
  if (!server) co_return std::string(HostServer::pausedRefusal);
  co_return server->refusalFor(peer);
}

asio::awaitable<bool> SourcedPairing::pairingCodeIsActive(PairingCode code) {
  auto server = server_.lock();
  co_return server && server->pairing.activeCode.get() == code;
}

}  // namespace glidemate::host
