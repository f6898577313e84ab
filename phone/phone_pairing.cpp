#include "phone/phone_pairing.hpp"

namespace glidemate::phone {

PhonePairing::PhonePairing(KeychainStore& store, CodeSource code, SpentPairingCodes spent)
    : store_(store), code_(std::move(code)), spent_(std::move(spent)) {}

asio::awaitable<std::optional<SymmetricKey>> PhonePairing::longTermKey(std::string peerId) {
  co_return store_.key(peerId);
}

asio::awaitable<std::optional<PairingCode>> PhonePairing::beginPairing(PeerInfo peer) {
  if (!code_) co_return std::nullopt;
  const std::optional<PairingCode> typed = code_(peer);
  if (typed && spent_.contains(*typed)) {
    refusedCode_ = typed;
    co_return std::nullopt;
  }
  offered_ = typed;
  co_return typed;
}

asio::awaitable<void> PhonePairing::pairingSucceeded(SymmetricKey key, PeerInfo peer) {
  offered_.reset();
  const auto now = std::chrono::system_clock::now();
  try {
    store_.save(key, PairedPeer{peer.id, peer.name, now, now});
    paired_ = true;
  } catch (const std::exception& e) {
    saveError_ = e.what();
  }
  co_return;
}

asio::awaitable<void> PhonePairing::pairingFailed(PeerInfo) {
  if (offered_) spent_.spend(*offered_);
  offered_.reset();
  co_return;
}

asio::awaitable<bool> PhonePairing::holdsAnyLongTermKey() { co_return !store_.allPeers().empty(); }

}  // namespace glidemate::phone
