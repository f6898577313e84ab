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
// phone is let in at all (paused host, phone turned away). It remembers
// which phone the handshake is for and the code it holds, so that the
// server can end the handshake when the user stops it.
class SourcedPairing final : public PairingProvider {
 public:
  SourcedPairing(std::weak_ptr<HostServer> server, const std::shared_ptr<Transport>& transport);

  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override;
  asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) override;
  asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) override;
  asio::awaitable<void> pairingFailed(PeerInfo peer) override;
  asio::awaitable<void> pairingAttemptEnded(PairingCode code) override;
  asio::awaitable<std::optional<std::string>> refusal(PeerInfo peer) override;
  asio::awaitable<bool> pairingCodeIsActive(PairingCode code) override;

  const std::optional<std::string>& source() const { return source_; }
  // The phone's id once its Hello has been read.
  const std::optional<std::string>& peerId() const { return peerId_; }
  // The code this handshake obtained, until its attempt ends.
  const std::optional<PairingCode>& heldCode() const { return heldCode_; }

 private:
  std::weak_ptr<HostServer> server_;
  std::optional<std::string> source_;
  std::optional<std::string> peerId_;
  std::optional<PairingCode> heldCode_;
};

}  // namespace glidemate::host
