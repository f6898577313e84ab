// What the session target and the recording of its seeds share: the two
// ends' pairing providers (a fixed code, or a fixed key both ends hold
// already), the seeds of their random streams, and the host's side.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kit/session/pairing_provider.hpp"
#include "kit/session/session.hpp"

namespace glidemate::fuzz {

enum class HandshakeMode { storedKey, pairing };

inline const PeerInfo fuzzHost{"FUZZ-HOST", "Fuzz host"};
inline const PeerInfo fuzzPhone{"FUZZ-PHONE", "Fuzz phone"};

class FixedPairing final : public PairingProvider {
 public:
  // `peerId`: the other end, whose key this end holds in stored-key mode.
  FixedPairing(HandshakeMode mode, std::string peerId) : mode_(mode), peerId_(std::move(peerId)) {}

  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override {
    if (mode_ == HandshakeMode::storedKey && peerId == peerId_) co_return SymmetricKey(Bytes(32, 0x5A));
    co_return std::nullopt;
  }
  asio::awaitable<std::optional<PairingCode>> beginPairing([[maybe_unused]] PeerInfo peer) override {
    co_return PairingCode::fromValue(482913);
  }
  asio::awaitable<void> pairingSucceeded([[maybe_unused]] SymmetricKey key,
                                         [[maybe_unused]] PeerInfo peer) override {
    co_return;
  }
  asio::awaitable<void> pairingFailed([[maybe_unused]] PeerInfo peer) override { co_return; }

 private:
  HandshakeMode mode_;
  std::string peerId_;
};

// The seeds of each end's random stream.
inline constexpr std::uint64_t hostSeed = 0x486F7374;
inline constexpr std::uint64_t phoneSeed = 0x50686F6E;

// The host's side: the handshake, then every message, answering pings as
// the host server does; closes the session at the end.
inline asio::awaitable<void> serveAsHost(std::shared_ptr<Session> host) {
  try {
    co_await host->performHandshake();
    auto messages = host->messages();
    while (auto message = co_await messages.next()) {
      if (const auto* ping = std::get_if<Message::Ping>(&message->value)) {
        Message pong = Message::Pong{ping->sendTimeNs};
        co_await host->send(std::move(pong));
      }
    }
  } catch (const std::exception&) {
    // A failed handshake or send ends the connection, as on the host.
  }
  host->close();
}

}  // namespace glidemate::fuzz
