#include "kit/session/pairing_provider.hpp"

namespace glidemate {

asio::awaitable<void> PairingProvider::pairingAttemptEnded(PairingCode) { co_return; }

asio::awaitable<std::optional<std::string>> PairingProvider::refusal(PeerInfo) { co_return std::nullopt; }

asio::awaitable<bool> PairingProvider::pairingCodeIsActive(PairingCode) { co_return true; }

asio::awaitable<bool> PairingProvider::holdsAnyLongTermKey() { co_return false; }

}  // namespace glidemate
