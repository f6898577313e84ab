#pragma once

#include <asio/any_io_executor.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "kit/runtime/async_stream.hpp"
#include "kit/runtime/logger.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/dns_sd.hpp"
#include "kit/transport/stream_transport.hpp"

namespace glidemate {

// The host's door on the local network: a TCP listener on a port the
// system chooses (IPv4, and IPv6 where the machine has it), advertised over
// DNS-SD as "_glidemate._tcp" with the host's id, name and protocol version
// in its TXT record. Each accepted connection is handed out unstarted.
//
// Advertising is best effort: without a DNS-SD daemon the listener still
// accepts connections (phones can be pointed at the address by hand) and
// logs why it is not advertised.
class LANListener {
 public:
  struct Listening {
    std::uint16_t port;
    bool operator==(const Listening&) const = default;
  };
  struct Failed {
    std::string reason;
    bool operator==(const Failed&) const = default;
  };
  struct Idle {
    bool operator==(const Idle&) const = default;
  };
  using State = std::variant<Listening, Failed, Idle>;

  // `dnsSd` may be null: no advertising at all. `port` 0 lets the system
  // choose.
  LANListener(asio::any_io_executor executor, std::string hostId, std::string hostName,
              DnsSd* dnsSd, Logger& logger, std::uint16_t port = 0);
  ~LANListener();
  LANListener(const LANListener&) = delete;
  LANListener& operator=(const LANListener&) = delete;

  // Does nothing while listening.
  void start();
  // Stops listening and advertising; `Idle` follows on `states`.
  void stop();

  AsyncStream<std::shared_ptr<StreamTransport>>& connections() { return connections_.first; }
  AsyncStream<State>& states() { return states_.first; }

  static TxtRecord txtRecord(const std::string& hostId, const std::string& hostName);

 private:
  struct Acceptors;
  void advertise(std::uint16_t port);

  asio::any_io_executor executor_;
  std::string hostId_;
  std::string hostName_;
  DnsSd* dnsSd_;
  Logger& logger_;
  std::uint16_t requestedPort_;
  std::pair<AsyncStream<std::shared_ptr<StreamTransport>>, StreamProducer<std::shared_ptr<StreamTransport>>>
      connections_;
  std::pair<AsyncStream<State>, StreamProducer<State>> states_;
  std::unique_ptr<Acceptors> acceptors_;
  std::unique_ptr<DnsSd::Handle> advertisement_;
};

}  // namespace glidemate
