#include "kit/transport/in_memory_transport.hpp"

#include <algorithm>

namespace glidemate {

std::pair<std::shared_ptr<InMemoryTransport>, std::shared_ptr<InMemoryTransport>> InMemoryTransport::makePair(
    const asio::any_io_executor& executor, Options options) {
  std::shared_ptr<InMemoryTransport> a(new InMemoryTransport(options, AsyncStream<TransportEvent>::make(executor)));
  std::shared_ptr<InMemoryTransport> b(new InMemoryTransport(options, AsyncStream<TransportEvent>::make(executor)));
  a->peer_ = b;
  b->peer_ = a;
  return {a, b};
}

InMemoryTransport::InMemoryTransport(Options options, EventStream events)
    : options_(options), events_(std::move(events.first)), producer_(std::move(events.second)) {}

InMemoryTransport::~InMemoryTransport() {
  if (auto peer = peer_.lock()) {
    peer->peerClosed();
  }
}

void InMemoryTransport::start() {
  if (started_ || closed_) {
    return;
  }
  started_ = true;
  producer_.yield(TransportEvent::Ready{});
  for (auto& event : early_) {
    producer_.yield(std::move(event));
  }
  early_.clear();
  if (peerClosedEarly_) {
    finish();
  }
}

asio::awaitable<void> InMemoryTransport::send(Bytes data, Channel channel) {
  if (closed_) {
    throw TransportError::closed();
  }
  if (!started_) {
    throw TransportError::notReady();
  }
  auto peer = peer_.lock();
  if (!peer) {
    throw TransportError::closed();
  }
  if (channel == Channel::reliable || !options_.unreliableChannel) {
    peer->receive(TransportEvent::Data{std::move(data), Channel::reliable});
    co_return;
  }
  if (datagramsToDrop_ > 0) {
    --datagramsToDrop_;
  } else if (holding_) {
    held_.push_back(std::move(data));
  } else {
    peer->receive(TransportEvent::Data{std::move(data), Channel::unreliable});
  }
}

void InMemoryTransport::close() {
  if (closed_) {
    return;
  }
  finish();
  if (auto peer = peer_.lock()) {
    peer->peerClosed();
  }
}

void InMemoryTransport::dropNextDatagrams(std::size_t count) { datagramsToDrop_ = count; }

void InMemoryTransport::holdDatagrams() { holding_ = true; }

void InMemoryTransport::releaseHeldDatagrams(Release order) {
  holding_ = false;
  auto held = std::move(held_);
  held_.clear();
  if (order == Release::reversed) {
    std::reverse(held.begin(), held.end());
  }
  auto peer = peer_.lock();
  if (!peer || closed_) {
    return;
  }
  for (auto& datagram : held) {
    peer->receive(TransportEvent::Data{std::move(datagram), Channel::unreliable});
  }
}

void InMemoryTransport::receive(TransportEvent event) {
  if (closed_) {
    return;
  }
  if (!started_) {
    early_.push_back(std::move(event));
    return;
  }
  producer_.yield(std::move(event));
}

void InMemoryTransport::peerClosed() {
  if (closed_) {
    return;
  }
  if (!started_) {
    peerClosedEarly_ = true;
    return;
  }
  finish();
}

void InMemoryTransport::finish() {
  closed_ = true;
  early_.clear();
  held_.clear();
  producer_.yield(TransportEvent::Closed{std::nullopt});
  producer_.finish();
}

}  // namespace glidemate
