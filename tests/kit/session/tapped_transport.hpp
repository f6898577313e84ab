// Test helper: a transport wrapped so that a test sees and steers what a
// session sends (drop, duplicate, hold back, alter, move to the other
// channel) and counts what arrives on each channel.
#pragma once

#include <asio/any_io_executor.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "kit/runtime/async_stream.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/transport.hpp"

namespace glidemate::testing {

class TappedTransport final : public Transport, public std::enable_shared_from_this<TappedTransport> {
 public:
  struct Outgoing {
    Bytes bytes;
    Channel channel;
  };
  // What actually leaves for one send: nothing drops it, two copies
  // duplicate it.
  using SendFilter = std::function<std::vector<Outgoing>(Outgoing)>;

  static std::shared_ptr<TappedTransport> wrap(const asio::any_io_executor& executor,
                                               std::shared_ptr<Transport> inner) {
    auto made = AsyncStream<TransportEvent>::make(executor);
    return std::shared_ptr<TappedTransport>(
        new TappedTransport(executor, std::move(inner), std::move(made.first), std::move(made.second)));
  }

  std::shared_ptr<Transport> inner;
  SendFilter filter;
  // Every send the session asked for, before the filter.
  std::vector<Outgoing> sent;
  std::size_t receivedDatagrams = 0;

  TransportKind kind() const override { return inner->kind(); }
  bool hasUnreliableChannel() const override { return inner->hasUnreliableChannel(); }
  AsyncStream<TransportEvent>& events() override { return events_; }
  void start() override {
    if (!forwarding_.isDone()) return;
    inner->start();
    forwarding_ = Task(executor_, forward(weak_from_this(), inner));
  }
  asio::awaitable<void> send(Bytes data, Channel channel) override {
    sent.push_back(Outgoing{data, channel});
    std::vector<Outgoing> out;
    if (filter) {
      out = filter(Outgoing{std::move(data), channel});
    } else {
      out.push_back(Outgoing{std::move(data), channel});
    }
    auto keep = inner;
    for (auto& o : out) {
      co_await keep->send(std::move(o.bytes), o.channel);
    }
  }
  void close() override { inner->close(); }
  asio::awaitable<std::optional<std::uint16_t>> prepareDatagramChannel() override {
    co_return co_await inner->prepareDatagramChannel();
  }
  asio::awaitable<void> connectDatagramChannel(std::uint16_t toPort) override {
    co_await inner->connectDatagramChannel(toPort);
  }
  void adoptDatagramSender(std::uint32_t sender) override { inner->adoptDatagramSender(sender); }
  std::optional<std::string> remoteHost() const override { return inner->remoteHost(); }

 private:
  TappedTransport(const asio::any_io_executor& executor, std::shared_ptr<Transport> wrapped,
                  AsyncStream<TransportEvent> events, StreamProducer<TransportEvent> producer)
      : inner(std::move(wrapped)), executor_(executor), events_(std::move(events)), producer_(std::move(producer)) {}

  static asio::awaitable<void> forward(std::weak_ptr<TappedTransport> weak, std::shared_ptr<Transport> source) {
    auto& events = source->events();
    while (auto event = co_await events.next()) {
      auto self = weak.lock();
      if (!self) co_return;
      if (const auto* data = std::get_if<TransportEvent::Data>(&event->value);
          data && data->channel == Channel::unreliable) {
        ++self->receivedDatagrams;
      }
      self->producer_.yield(std::move(*event));
    }
    if (auto self = weak.lock()) self->producer_.finish();
  }

  asio::any_io_executor executor_;
  AsyncStream<TransportEvent> events_;
  StreamProducer<TransportEvent> producer_;
  Task forwarding_;
};

}  // namespace glidemate::testing
