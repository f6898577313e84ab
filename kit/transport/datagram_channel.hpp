#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/udp.hpp>
#include <cstdint>
#include <functional>
#include <memory>

#include "kit/runtime/task.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// The UDP side of a stream transport: one socket and its receive loop.
// Each datagram is handed on whole, as it came; each send is one datagram.
//
// On the host the socket is bound to a free port and hears the TCP peer's
// own host only: datagrams from any other host are dropped. Each source (an
// address and port) it hears is numbered, and the datagram handed on with
// its number; the channel sends to a source only once its owner adopts
// that number, having found the datagram genuine. On the phone the socket
// is connected to the host's port.
//
// Destroying the channel stops its loop and closes its socket.
class DatagramChannel {
 public:
  // Called with each datagram received and the number of its source (0 on
  // the phone), on the executor.
  using Receiver = std::function<void(Bytes, std::uint32_t)>;

  // Host side. Throws TransportError::underlying if no socket can be bound.
  static std::unique_ptr<DatagramChannel> listen(const asio::any_io_executor& executor,
                                                 const asio::ip::address& peer, Receiver receiver);
  // Phone side. Throws TransportError::underlying if the socket cannot be
  // opened or connected.
  static std::unique_ptr<DatagramChannel> connect(const asio::any_io_executor& executor,
                                                  const asio::ip::udp::endpoint& host, Receiver receiver);

  DatagramChannel(const DatagramChannel&) = delete;
  DatagramChannel& operator=(const DatagramChannel&) = delete;
  ~DatagramChannel();

  std::uint16_t localPort() const;

  // Whether there is a flow to send to: always on the phone, on the host
  // once a source has been adopted.
  bool hasFlow() const;

  // Host side: sends go to the source of that number from now on. A number
  // no longer remembered (the channel keeps the last few sources) is
  // ignored, as is any call on the phone.
  void adopt(std::uint32_t source);

  // Sends one datagram to the flow. Throws TransportError::notReady without
  // a flow, TransportError::underlying if the network refuses it.
  asio::awaitable<void> send(Bytes datagram);

 private:
  struct Core;

  DatagramChannel(const asio::any_io_executor& executor, std::shared_ptr<Core> core);
  // Holds only the core, so it may outlive the channel until it sees the
  // socket closed.
  static asio::awaitable<void> receive(std::shared_ptr<Core> core);

  std::shared_ptr<Core> core_;
  Task receiving_;
};

}  // namespace glidemate
