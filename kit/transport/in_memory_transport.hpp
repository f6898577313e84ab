#pragma once

#include <asio/any_io_executor.hpp>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "kit/runtime/async_stream.hpp"
#include "kit/transport/transport.hpp"

namespace glidemate {

// One end of a pair of transports connected inside the process, for tests
// and for programs that run both roles. What one end sends the other
// receives, in order, once it has started. With `unreliableChannel` the
// pair also has a datagram channel, which can be told to lose or reorder
// what one end sends; without it, sends on `unreliable` travel reliably.
//
// Both ends live on one executor. Owned by std::shared_ptr; dropping an end
// closes the other as a hang-up would.
class InMemoryTransport final : public Transport, public std::enable_shared_from_this<InMemoryTransport> {
 public:
  struct Options {
    TransportKind kind = TransportKind::lan;
    bool unreliableChannel = false;
  };
  enum class Release { inOrder, reversed };

  static std::pair<std::shared_ptr<InMemoryTransport>, std::shared_ptr<InMemoryTransport>> makePair(
      const asio::any_io_executor& executor, Options options);

  InMemoryTransport(const InMemoryTransport&) = delete;
  InMemoryTransport& operator=(const InMemoryTransport&) = delete;
  ~InMemoryTransport() override;

  TransportKind kind() const override { return options_.kind; }
  bool hasUnreliableChannel() const override { return options_.unreliableChannel; }
  AsyncStream<TransportEvent>& events() override { return events_; }
  void start() override;
  // Throws TransportError::notReady before start(), TransportError::closed
  // once either end has closed.
  asio::awaitable<void> send(Bytes data, Channel channel) override;
  void close() override;

  // The next `count` datagrams this end sends are lost.
  void dropNextDatagrams(std::size_t count);
  // Datagrams this end sends are held back until releaseHeldDatagrams().
  void holdDatagrams();
  // Delivers the held datagrams in the order given and stops holding.
  void releaseHeldDatagrams(Release order);

 private:
  using EventStream = std::pair<AsyncStream<TransportEvent>, StreamProducer<TransportEvent>>;

  InMemoryTransport(Options options, EventStream events);

  // What the peer does to this end.
  void receive(TransportEvent event);
  void peerClosed();
  void finish();

  Options options_;
  AsyncStream<TransportEvent> events_;
  StreamProducer<TransportEvent> producer_;
  std::weak_ptr<InMemoryTransport> peer_;
  bool started_ = false;
  bool closed_ = false;
  // Arrivals before start(), delivered after `Ready` as a socket would.
  std::vector<TransportEvent> early_;
  bool peerClosedEarly_ = false;
  std::size_t datagramsToDrop_ = 0;
  bool holding_ = false;
  std::vector<Bytes> held_;
};

}  // namespace glidemate
