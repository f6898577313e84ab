#pragma once

#include <functional>
#include <optional>
#include <string>

#include "kit/session/keychain_store.hpp"
#include "kit/session/pairing_provider.hpp"
#include "kit/session/spent_pairing_codes.hpp"

namespace glidemate::phone {

// The phone's side of pairing: keys of the hosts it has paired with, kept
// in its own store, and the code the user types when it pairs anew. A
// phone that is only meant to reconnect gives no code, so an unpaired host
// ends the handshake instead of asking. A code whose pairing failed is
// spent: offered again, it is refused, and the user must ask the computer
// for a new one.
class PhonePairing final : public PairingProvider {
 public:
  // Asked for the code shown on the host; none gives up.
  using CodeSource = std::function<std::optional<PairingCode>(const PeerInfo& host)>;

  // The store of paired hosts on the phone.
  static constexpr const char* service = "com.larkspurstudios.glidemate.hosts";

  PhonePairing(KeychainStore& store, CodeSource code, SpentPairingCodes spent = {});

  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override;
  asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) override;
  asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) override;
  asio::awaitable<void> pairingFailed(PeerInfo peer) override;
  asio::awaitable<bool> holdsAnyLongTermKey() override;

  // Set once a pairing stored its key; the error text if storing failed.
  bool paired() const { return paired_; }
  const std::optional<std::string>& saveError() const { return saveError_; }
  // The codes failed pairings used up, to be kept for the next run.
  const SpentPairingCodes& spentCodes() const { return spent_; }
  // Set when the user typed a spent code, which was refused.
  const std::optional<PairingCode>& refusedCode() const { return refusedCode_; }

 private:
  KeychainStore& store_;
  CodeSource code_;
  SpentPairingCodes spent_;
  std::optional<PairingCode> offered_;
  std::optional<PairingCode> refusedCode_;
  bool paired_ = false;
  std::optional<std::string> saveError_;
};

}  // namespace glidemate::phone
