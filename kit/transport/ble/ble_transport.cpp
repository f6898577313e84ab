#include "kit/transport/ble/ble_transport.hpp"

namespace glidemate {

BLETransport::BLETransport(const asio::any_io_executor& executor, std::size_t fragmentSize,
                           WriteFragment writeFragment)
    : writeFragment_(std::move(writeFragment)),
      events_(AsyncStream<TransportEvent>::make(executor)),
      queue_(fragmentSize) {}

void BLETransport::start() {
  if (started_ || closed_) {
    return;
  }
  started_ = true;
  events_.second.yield(TransportEvent::Ready{});
}

asio::awaitable<void> BLETransport::send(Bytes data, Channel channel) {
  if (closed_) {
    co_return;
  }
  // A refused droppable chunk is simply lost, as a datagram would be.
  (void)queue_.enqueue(data, channel == Channel::unreliable);
  radioReady();
}

void BLETransport::radioReady() {
  while (!closed_) {
    auto fragment = queue_.nextFragment();
    if (!fragment) {
      return;
    }
    if (!writeFragment_(*fragment)) {
      if (!closed_) {
        queue_.prepend(*fragment);
      }
      return;
    }
  }
}

void BLETransport::received(const Bytes& data) {
  if (data.empty() || closed_) {
    return;
  }
  events_.second.yield(TransportEvent::Data{data, Channel::reliable});
}

void BLETransport::closed(std::optional<TransportError> error) {
  if (closed_) {
    return;
  }
  closed_ = true;
  queue_.reset();
  events_.second.yield(TransportEvent::Closed{std::move(error)});
  events_.second.finish();
}

}  // namespace glidemate
