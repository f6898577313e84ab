#include "host/server/host_pairing_coordinator.hpp"

#include <asio/co_spawn.hpp>
#include <asio/use_awaitable.hpp>

#include "kit/session/keychain_error.hpp"

namespace glidemate::host {

HostPairingCoordinator::HostPairingCoordinator(asio::any_io_executor mainExecutor,
                                               KeychainBackend& keys, HostClock clock)
    : mainExecutor_(std::move(mainExecutor)),
      clock_(std::move(clock)),
      store_(KeychainStore::hostService, keys, clock_.wallNow) {
  reloadPairedDevices();
}

void HostPairingCoordinator::reloadPairedDevices() { pairedDevices.set(store_.allPeers()); }

void HostPairingCoordinator::mirrorThrottle() {
  const auto now = clock_.monotonicNow();
  if (const auto end = throttle_.blockExpiry(now)) {
    // Shown to people as a wall-clock time; decided on the monotonic one.
    throttledUntil.set(clock_.wallNow() +
                       std::chrono::duration_cast<std::chrono::system_clock::duration>(*end - now));
  } else {
    throttledUntil.set(std::nullopt);
  }
}

void HostPairingCoordinator::clearCode() {
  activeCode.set(std::nullopt);
  pairingWith.set(std::nullopt);
  activeSource.set(std::nullopt);
}

std::optional<PairingCode> HostPairingCoordinator::beginPairing(const std::string& peerName,
                                                                std::optional<std::string> source) {
  const auto now = clock_.monotonicNow();
  throttle_.prune(now);
  mirrorThrottle();
  if (throttle_.isBlocked(now)) return std::nullopt;
  if (source) {
    const auto it = turnedAway->find(*source);
    if (it != turnedAway->end() && it->second > now) return std::nullopt;
  }
  if (activeCode->has_value()) return std::nullopt;
  const PairingCode code = PairingCode::random();
  // Who the code is for is in place before the code appears, so that an
  // observer of the code reads the right name.
  pairingWith.set(peerName);
  activeSource.set(std::move(source));
  activeCode.set(code);
  return code;
}

void HostPairingCoordinator::decline() {
  if (activeSource->has_value()) {
    auto away = *turnedAway;
    away[**activeSource] = clock_.monotonicNow() + turnAwayDuration;
    turnedAway.set(std::move(away));
  }
  clearCode();
}

void HostPairingCoordinator::allowPairing() {
  throttle_.recordSuccess();
  throttledUntil.set(std::nullopt);
}

void HostPairingCoordinator::recordPairing(const SymmetricKey& key, const PeerInfo& peer) {
  const auto now = clock_.wallNow();
  try {
    store_.save(key, PairedPeer{peer.id, peer.name, now, now});
    storageError.set(std::nullopt);
  } catch (const KeychainError& e) {
    storageError.set(std::string(e.what()));
  } catch (const std::exception&) {
    storageError.set(std::string(saveFailedText));
  }
  throttle_.recordSuccess();
  throttledUntil.set(std::nullopt);
  reloadPairedDevices();
}

void HostPairingCoordinator::recordWrongCode() {
  throttle_.recordFailure(clock_.monotonicNow());
  mirrorThrottle();
}

void HostPairingCoordinator::endAttempt(const PairingCode& code) {
  if (activeCode.get() == code) clearCode();
}

// Each provider operation runs its work on the main executor, whatever
// executor the session awaits it from. The work is a named lambda, not a
// temporary: g++ 12 destroys a temporary inside a co_await expression twice.

asio::awaitable<std::optional<SymmetricKey>> HostPairingCoordinator::longTermKey(std::string peerId) {
  auto work = [this, peerId = std::move(peerId)]() -> asio::awaitable<std::optional<SymmetricKey>> {
    co_return store_.key(peerId);
  };
  co_return co_await asio::co_spawn(mainExecutor_, std::move(work), asio::use_awaitable);
}

asio::awaitable<std::optional<PairingCode>> HostPairingCoordinator::beginPairing(PeerInfo peer) {
  auto work = [this, name = std::move(peer.name)]() -> asio::awaitable<std::optional<PairingCode>> {
    co_return beginPairing(name, std::nullopt);
  };
  co_return co_await asio::co_spawn(mainExecutor_, std::move(work), asio::use_awaitable);
}

asio::awaitable<void> HostPairingCoordinator::pairingSucceeded(SymmetricKey key, PeerInfo peer) {
  auto work = [this, key = std::move(key), peer = std::move(peer)]() -> asio::awaitable<void> {
    recordPairing(key, peer);
    co_return;
  };
  co_await asio::co_spawn(mainExecutor_, std::move(work), asio::use_awaitable);
}

asio::awaitable<void> HostPairingCoordinator::pairingFailed(PeerInfo) {
  auto work = [this]() -> asio::awaitable<void> {
    recordWrongCode();
    co_return;
  };
  co_await asio::co_spawn(mainExecutor_, std::move(work), asio::use_awaitable);
}

asio::awaitable<void> HostPairingCoordinator::pairingAttemptEnded(PairingCode code) {
  auto work = [this, code]() -> asio::awaitable<void> {
    endAttempt(code);
    co_return;
  };
  co_await asio::co_spawn(mainExecutor_, std::move(work), asio::use_awaitable);
}

asio::awaitable<bool> HostPairingCoordinator::pairingCodeIsActive(PairingCode code) {
  auto work = [this, code]() -> asio::awaitable<bool> { co_return activeCode.get() == code; };
  co_return co_await asio::co_spawn(mainExecutor_, std::move(work), asio::use_awaitable);
}

}  // namespace glidemate::host
