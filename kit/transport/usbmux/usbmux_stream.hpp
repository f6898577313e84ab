#pragma once

#include <asio/awaitable.hpp>
#include <asio/local/stream_protocol.hpp>
#include <cstddef>
#include <memory>

#include "kit/transport/usbmux/usbmux_header.hpp"
#include "kit/transport/usbmux/usbmux_packet.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// Whole packets over one connection to the daemon. The socket is shared so
// that a deadline or stop() can close it under a pending read.
//
// Reads throw USBMuxError::malformedPacket when the daemon ends the stream
// early, TransportError::underlying for a network error, the header's own
// USBMuxError for a bad header, and asio::system_error(operation_aborted)
// when the caller is cancelled or the socket is closed under the read.
class USBMuxStream {
 public:
  using Socket = asio::local::stream_protocol::socket;

  explicit USBMuxStream(std::shared_ptr<Socket> socket) : socket_(std::move(socket)) {}

  asio::awaitable<Bytes> receiveExactly(std::size_t count);
  asio::awaitable<USBMuxHeader> receiveHeader();
  // Exactly the payload `header` announces (validated, so at most 1 MiB).
  asio::awaitable<Bytes> receivePayload(const USBMuxHeader& header);
  // Throws USBMuxError::daemonUnavailable when the packet cannot be written.
  asio::awaitable<void> send(const USBMuxPacket& packet);

 private:
  std::shared_ptr<Socket> socket_;
};

}  // namespace glidemate
