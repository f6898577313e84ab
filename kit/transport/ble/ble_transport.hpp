// Bluetooth LE: the host as a GATT peripheral (BLEPeripheralHost) that
// accepts one subscribed phone at a time and gives each a BLETransport over
// the link. The radio itself is behind the BLEPeripheralManager port.
#pragma once

#include <asio/any_io_executor.hpp>
#include <cstddef>
#include <functional>
#include <optional>

#include "kit/runtime/async_stream.hpp"
#include "kit/transport/ble/ble_send_queue.hpp"
#include "kit/transport/transport.hpp"

namespace glidemate {

// A transport over one phone's Bluetooth LE link. What the phone writes
// arrives through received(); what the session sends is cut into fragments
// of the link's size and handed to the radio one by one through
// `writeFragment`. When the radio cannot take a fragment, it waits in front
// of the queue until radioReady().
//
// Lives on one executor and is used only from it.
class BLETransport final : public Transport {
 public:
  // Hands one fragment to the radio; false when it cannot take it now.
  using WriteFragment = std::function<bool(const Bytes&)>;

  BLETransport(const asio::any_io_executor& executor, std::size_t fragmentSize, WriteFragment writeFragment);

  TransportKind kind() const override { return TransportKind::ble; }
  // The link is one ordered byte stream: a frame the session marked
  // unreliable would reach the phone on its reliable channel and be
  // dropped there, so the session is told to send everything reliably.
  bool hasUnreliableChannel() const override { return false; }
  AsyncStream<TransportEvent>& events() override { return events_.first; }
  void start() override;
  // Queues the data and hands the radio what it takes now. Ignored once
  // closed. On `unreliable`, data beyond the backlog limit is dropped.
  asio::awaitable<void> send(Bytes data, Channel channel) override;
  void close() override { closed(std::nullopt); }

  // Bytes the phone wrote.
  void received(const Bytes& data);
  // The radio can take more: sends what waits.
  void radioReady();
  void setFragmentSize(std::size_t size) { queue_.setFragmentSize(size); }
  // Ends the transport once: drops what waits, then `Closed`.
  void closed(std::optional<TransportError> error);
  bool isClosed() const { return closed_; }

  std::size_t pendingBytes() const { return queue_.pendingBytes(); }

 private:
  WriteFragment writeFragment_;
  std::pair<AsyncStream<TransportEvent>, StreamProducer<TransportEvent>> events_;
  BLESendQueue queue_;
  bool closed_ = false;
  bool started_ = false;
};

}  // namespace glidemate
