// Transports: how the bytes of a session travel between a phone and the
// host. A transport offers an ordered, lossless channel and, where the link
// allows, an unreliable datagram channel. StreamTransport carries both over
// TCP and UDP (and a cable tunnel over a stream socket); InMemoryTransport
// connects two ends inside one process.
#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <optional>
#include <string>

#include "kit/runtime/async_stream.hpp"
#include "kit/transport/channel.hpp"
#include "kit/transport/transport_event.hpp"
#include "kit/transport/transport_kind.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// What a session needs of a connection. A transport lives on one executor
// and is used only from it. Failures are thrown as TransportError.
class Transport {
 public:
  virtual ~Transport() = default;

  virtual TransportKind kind() const = 0;

  // Whether sending on `unreliable` really takes a separate unreliable
  // path right now; when false, such sends travel on the reliable channel.
  virtual bool hasUnreliableChannel() const = 0;

  // `Ready` once the reliable channel is open, `Data` as bytes arrive, and
  // finally one `Closed`, after which the stream ends.
  virtual AsyncStream<TransportEvent>& events() = 0;

  // Opens the transport. Calls after the first do nothing.
  virtual void start() = 0;

  // Completes once the bytes have been handed to the network. Sends on the
  // reliable channel go out in the order of the calls. An unreliable send
  // is one datagram carrying exactly `data`.
  virtual asio::awaitable<void> send(Bytes data, Channel channel) = 0;

  // Ends the transport; `Closed` follows on the event stream. Idempotent.
  virtual void close() = 0;

  // Host side: opens the datagram channel and returns its port, or nothing
  // when this transport has no datagram channel (the default).
  virtual asio::awaitable<std::optional<std::uint16_t>> prepareDatagramChannel();

  // Phone side: opens the datagram flow to the host's port. Does nothing by
  // default.
  virtual asio::awaitable<void> connectDatagramChannel(std::uint16_t toPort);

  // Host side: a datagram from `sender` (TransportEvent::Data::sender)
  // proved to be the peer's, so datagrams are sent back there from now on.
  // Anyone on the peer's network address can send from any port, so only
  // the session, which can open the datagram, may choose the flow. Does
  // nothing by default.
  virtual void adoptDatagramSender(std::uint32_t sender);

  // The peer's numeric address without an IPv6 scope suffix, when the
  // transport has one (none by default).
  virtual std::optional<std::string> remoteHost() const;
};

}  // namespace glidemate
