#include "phone/phone_pairing.hpp"

namespace glidemate::phone {

PhonePairing::PhonePairing(KeychainStore& store, CodeSource code)
    : store_(store), code_(std::move(code)) {}

asio::awaitable<std::optional<SymmetricKey>> PhonePairing::longTermKey(std::string peerId) {
  co_return store_.key(peerId);
}

asio::awaitable<std::optional<PairingCode>> PhonePairing::beginPairing(PeerInfo peer) {
  if (!code_) co_return std::nullopt;
  co_return code_(peer);
}

asio::awaitable<void> PhonePairing::pairingSucceeded(SymmetricKey key, PeerInfo peer) {
  const auto now = std::chrono::system_clock::now();
  try {
    store_.save(key, PairedPeer{peer.id, peer.name, now, now});
    paired_ = true;
  } catch (const std::exception& e) {
    saveError_ = e.what();
  }
  co_return;
}

asio::awaitable<void> PhonePairing::pairingFailed(PeerInfo) { co_return; }

asio::awaitable<bool> PhonePairing::holdsAnyLongTermKey() { co_return !store_.allPeers().empty(); }

}  // namespace glidemate::phone
