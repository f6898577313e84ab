// Test helper: a pairing provider whose answers the test sets and whose
// calls it records, for either role.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "kit/session/pairing_provider.hpp"

namespace glidemate::testing {

class FakePairingProvider final : public PairingProvider {
 public:
  std::map<std::string, SymmetricKey> keys;
  std::optional<PairingCode> code;
  std::optional<std::string> refusalText;
  // What refusal() answers from its second call on, when set: the owner
  // changed its mind while the handshake ran.
  std::optional<std::string> lateRefusalText;
  int refusalsAsked = 0;
  bool codeActive = true;
  bool holdsAny = false;
  // Awaited before beginPairing answers: a user who takes their time.
  std::function<asio::awaitable<void>()> whileTyping;
  // "beginPairing <id>", "pairingSucceeded <id>", "pairingFailed <id>",
  // "pairingAttemptEnded <digits>", in the order they came.
  std::vector<std::string> calls;
  std::optional<SymmetricKey> pairedKey;

  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override {
    const auto it = keys.find(peerId);
    if (it == keys.end()) co_return std::nullopt;
    co_return it->second;
  }
  asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) override {
    calls.push_back("beginPairing " + peer.id);
    if (whileTyping) co_await whileTyping();
    co_return code;
  }
  asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) override {
    calls.push_back("pairingSucceeded " + peer.id);
    pairedKey = key;
    keys[peer.id] = key;
    co_return;
  }
  asio::awaitable<void> pairingFailed(PeerInfo peer) override {
    calls.push_back("pairingFailed " + peer.id);
    co_return;
  }
  asio::awaitable<void> pairingAttemptEnded(PairingCode ended) override {
    calls.push_back("pairingAttemptEnded " + ended.digits());
    co_return;
  }
  asio::awaitable<std::optional<std::string>> refusal([[maybe_unused]] PeerInfo peer) override {
    if (++refusalsAsked > 1 && lateRefusalText) co_return lateRefusalText;
    co_return refusalText;
  }
  asio::awaitable<bool> pairingCodeIsActive([[maybe_unused]] PairingCode shown) override { co_return codeActive; }
  asio::awaitable<bool> holdsAnyLongTermKey() override { co_return holdsAny; }
};

}  // namespace glidemate::testing
