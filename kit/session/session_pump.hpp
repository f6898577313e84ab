#pragma once

#include <asio/awaitable.hpp>
#include <memory>

#include "kit/session/session_inbox.hpp"
#include "kit/transport/transport.hpp"
#include "kit/transport/transport_event.hpp"
#include "kit/wire/record_framer.hpp"

namespace glidemate {

// Drains a transport's events into a session's inbox: reassembles records
// from the reliable byte stream (one framer for the session's life) and
// takes each datagram as one record.
//
// A datagram that is not one record is dropped: datagrams are independent,
// so one bad datagram says nothing about the next. A reliable stream that
// breaks framing cannot be resynchronised, so the inbox is finished; the
// pump keeps draining the transport (discarding) so that what the peer
// still sends is not buffered until the owner closes.
class SessionPump {
 public:
  explicit SessionPump(std::shared_ptr<SessionInbox> inbox);

  // Handles one event. Never throws.
  void take(TransportEvent event);

  // Runs until the transport's event stream ends, then finishes the inbox.
  // Started by the session in its own task; cancelling the task stops it.
  static asio::awaitable<void> run(std::shared_ptr<Transport> transport, std::shared_ptr<SessionInbox> inbox);

 private:
  void takeStreamBytes(const Bytes& bytes);
  void takeDatagram(const Bytes& bytes, std::uint32_t sender);

  std::shared_ptr<SessionInbox> inbox_;
  RecordFramer framer_;
  bool streamBroken_ = false;
};

}  // namespace glidemate
