#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <variant>

#include "kit/transport/channel.hpp"
#include "kit/transport/transport_error.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// What a transport reports through its event stream. `Closed` is always the
// last event, and there is exactly one.
struct TransportEvent {
  // Bytes received on a channel. On the reliable channel they are a piece
  // of the byte stream (records may be split or joined); on the unreliable
  // channel they are one whole datagram.
  struct Data {
    Bytes bytes;
    Channel channel;
    // Which of the peer's datagram flows it came on, as the transport
    // numbers them (see Transport::adoptDatagramSender); 0 otherwise.
    std::uint32_t sender = 0;
    bool operator==(const Data&) const = default;
  };
  // The transport ended: no error for an orderly end or for close().
  struct Closed {
    std::optional<TransportError> error;
    bool operator==(const Closed&) const = default;
  };
  // The reliable channel is open.
  struct Ready {
    bool operator==(const Ready&) const = default;
  };

  using Case = std::variant<Data, Closed, Ready>;

  Case value;

  template <class T>
    requires std::constructible_from<Case, T>
  TransportEvent(T c) : value(std::move(c)) {}  // NOLINT: every case converts implicitly

  bool operator==(const TransportEvent&) const = default;
};

}  // namespace glidemate
