#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kit/session/pairing_provider.hpp"
#include "kit/transport/transport.hpp"

namespace glidemate::host {

class HostServer;

// The pairing provider one incoming connection's session talks to: the host
// server's coordinator, told where the connection comes from (so a source
// turned away gets no code), with the server itself deciding whether the
// phone is let in at all (paused host, phone turned away).
class SourcedPairing final : public PairingProvider {
 public:
  SourcedPairing(std::weak_ptr<HostServer> server, const std::shared_ptr<Transport>& transport);

  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override;
  asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) override;
  asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) override;
  asio::awaitable<void> pairingFailed(PeerInfo peer) override;
  asio::awaitable<void> pairingAttemptEnded(PairingCode code) override;
  asio::awaitable<std::optional<std::string>> refusal(PeerInfo peer) override;

 private:
  std::weak_ptr<HostServer> server_;
  std::optional<std::string> source_;
};

}  // namespace glidemate::host
