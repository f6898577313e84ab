#include "kit/transport/usbmux/usbmux_stream.hpp"

#include <asio/read.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>

#include "kit/transport/transport_error.hpp"
#include "kit/transport/usbmux/usbmux_error.hpp"

namespace glidemate {

asio::awaitable<Bytes> USBMuxStream::receiveExactly(std::size_t count) {
  Bytes data(count);
  if (count == 0) {
    co_return data;
  }
  asio::error_code ec;
  const std::size_t received =
      co_await asio::async_read(*socket_, asio::buffer(data), asio::redirect_error(asio::use_awaitable, ec));
  if (ec == asio::error::operation_aborted) {
    throw asio::system_error(ec);
  }
  // The daemon hanging up mid-packet leaves the packet short.
  if (ec && ec != asio::error::eof) {
    throw TransportError::underlying(ec.message());
  }
  if (received != count) {
    throw USBMuxError::malformedPacket();
  }
  co_return data;
}

asio::awaitable<USBMuxHeader> USBMuxStream::receiveHeader() {
  const Bytes header = co_await receiveExactly(USBMuxPacket::headerSize);
  co_return USBMuxHeader::decode(header);
}

asio::awaitable<Bytes> USBMuxStream::receivePayload(const USBMuxHeader& header) {
  co_return co_await receiveExactly(header.payloadLength());
}

asio::awaitable<void> USBMuxStream::send(const USBMuxPacket& packet) {
  const Bytes bytes = packet.encoded();
  asio::error_code ec;
  co_await asio::async_write(*socket_, asio::buffer(bytes), asio::redirect_error(asio::use_awaitable, ec));
  if (ec == asio::error::operation_aborted) {
    throw asio::system_error(ec);
  }
  if (ec) {
    throw USBMuxError::daemonUnavailable();
  }
}

}  // namespace glidemate
