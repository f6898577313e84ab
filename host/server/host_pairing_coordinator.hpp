#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/server/host_clock.hpp"
#include "host/server/observable.hpp"
#include "kit/session/keychain_store.hpp"
#include "kit/session/pairing_code.hpp"
#include "kit/session/pairing_provider.hpp"
#include "kit/session/pairing_throttle.hpp"

namespace glidemate::host {

// The host's side of pairing: hands out one six-digit code at a time, keeps
// the keys of paired phones, slows down code guessing, and remembers the
// sources the user turned away. Its state is observable so that the user
// interface (and the headless status lines) can follow it. Lives on the
// main executor; sessions reach it through the PairingProvider operations,
// which run their work there.
class HostPairingCoordinator final : public PairingProvider {
 public:
  // How long a source turned away with "Not me" gets no code.
  static constexpr std::chrono::seconds turnAwayDuration{600};
  static constexpr const char* saveFailedText = "Could not save the key.";

  HostPairingCoordinator(asio::any_io_executor mainExecutor, KeychainBackend& keys,
                         HostClock clock = {});

  Observable<std::optional<PairingCode>> activeCode;
  Observable<std::optional<std::string>> pairingWith;
  Observable<std::vector<PairedPeer>> pairedDevices;
  Observable<std::optional<std::chrono::system_clock::time_point>> throttledUntil;
  Observable<std::optional<std::string>> activeSource;
  Observable<std::map<std::string, std::chrono::steady_clock::time_point>> turnedAway;
  Observable<std::optional<std::string>> storageError;

  KeychainStore& store() { return store_; }
  const PairingThrottle& throttle() const { return throttle_; }

  // A code to show for a phone that is not paired, or none while pairing is
  // blocked, the source is turned away, or another code is on screen.
  std::optional<PairingCode> beginPairing(const std::string& peerName,
                                          std::optional<std::string> source);
  // "Not me": turn the code's source away and take the code down.
  void decline();
  // "Allow pairing": lift a block from wrong codes.
  void allowPairing();
  void reloadPairedDevices();

  // PairingProvider
  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override;
  asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) override;
  asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) override;
  asio::awaitable<void> pairingFailed(PeerInfo peer) override;
  asio::awaitable<void> pairingAttemptEnded(PairingCode code) override;
  asio::awaitable<bool> pairingCodeIsActive(PairingCode code) override;

  // The same work, for callers already on the main executor.
  void recordPairing(const SymmetricKey& key, const PeerInfo& peer);
  void recordWrongCode();
  void endAttempt(const PairingCode& code);

 private:
  void mirrorThrottle();
  void clearCode();

  asio::any_io_executor mainExecutor_;
  HostClock clock_;
  KeychainStore store_;
  PairingThrottle throttle_;
};

}  // namespace glidemate::host
