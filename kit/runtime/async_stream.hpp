#pragma once

#include <asio/awaitable.hpp>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <utility>

#include "kit/runtime/notifier.hpp"

namespace glidemate {

namespace detail {

template <class T>
struct AsyncStreamState {
  explicit AsyncStreamState(const asio::any_io_executor& executor) : changed(executor) {}

  Notifier changed;
  std::deque<T> buffer;
  bool finished = false;
  bool consumerGone = false;
  // A producer waits in waitForRoom(); the consumer wakes it on taking a
  // value.
  bool producerWaiting = false;
};

}  // namespace detail

template <class T>
class StreamProducer;

// An unbounded stream of values from one producer to one consumer, both on
// the same executor. The producer never waits: yield() buffers. The consumer
// awaits next(), which returns every value in order and then nothing once
// the producer has finished. Finishing keeps what is buffered, so nothing
// yielded before finish() is lost.
//
//   auto [events, producer] = AsyncStream<Event>::make(executor);
//   producer.yield(e);                       // anywhere on the executor
//   while (auto e = co_await events.next())  // in the consuming coroutine
//
// A consumer cancelled while waiting in next() gets
// asio::system_error(operation_aborted); the stream itself is unaffected and
// later values stay buffered. When the consumer object goes away, buffered
// and later values are discarded, so a producer with no listener does not
// grow without bound.
template <class T>
class AsyncStream {
 public:
  static std::pair<AsyncStream, StreamProducer<T>> make(const asio::any_io_executor& executor) {
    auto state = std::make_shared<detail::AsyncStreamState<T>>(executor);
    return {AsyncStream(state), StreamProducer<T>(state)};
  }

  AsyncStream(AsyncStream&& other) noexcept = default;
  AsyncStream& operator=(AsyncStream&& other) noexcept {
    if (this != &other) {
      release();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  AsyncStream(const AsyncStream&) = delete;
  AsyncStream& operator=(const AsyncStream&) = delete;
  ~AsyncStream() { release(); }

  // The next value, or nothing once the stream is finished and drained.
  asio::awaitable<std::optional<T>> next() {
    // The coroutine keeps the state alive on its own: the stream object may
    // be destroyed while its consumer is suspended here.
    auto state = state_;
    while (state->buffer.empty() && !state->finished) {
      co_await state->changed.wait();
    }
    if (state->buffer.empty()) {
      co_return std::nullopt;
    }
    std::optional<T> value(std::move(state->buffer.front()));
    state->buffer.pop_front();
    if (state->producerWaiting) {
      state->producerWaiting = false;
      state->changed.notifyAll();
    }
    co_return value;
  }

 private:
  explicit AsyncStream(std::shared_ptr<detail::AsyncStreamState<T>> state) : state_(std::move(state)) {}

  void release() {
    if (state_) {
      state_->consumerGone = true;
      state_->buffer.clear();
      state_->changed.notifyAll();
      state_.reset();
    }
  }

  std::shared_ptr<detail::AsyncStreamState<T>> state_;
};

// The producing side of an AsyncStream. Destroying it finishes the stream,
// so a consumer never waits for a producer that no longer exists.
template <class T>
class StreamProducer {
 public:
  StreamProducer(StreamProducer&& other) noexcept = default;
  StreamProducer& operator=(StreamProducer&& other) noexcept {
    if (this != &other) {
      finish();
      state_ = std::move(other.state_);
    }
    return *this;
  }
  StreamProducer(const StreamProducer&) = delete;
  StreamProducer& operator=(const StreamProducer&) = delete;
  ~StreamProducer() { finish(); }

  // Buffers the value for the consumer. Ignored after finish() or once the
  // consumer is gone.
  void yield(T value) {
    if (!state_ || state_->finished || state_->consumerGone) {
      return;
    }
    state_->buffer.push_back(std::move(value));
    state_->changed.notifyAll();
  }

  // Ends the stream after the values already buffered. Idempotent.
  void finish() {
    if (!state_ || state_->finished) {
      return;
    }
    state_->finished = true;
    state_->changed.notifyAll();
  }

  bool isFinished() const { return !state_ || state_->finished; }

  // How many values wait for the consumer.
  std::size_t buffered() const { return state_ ? state_->buffer.size() : 0; }

  // Suspends while `limit` or more values wait for the consumer, so that a
  // producer fed from outside (a network peer) can stop taking input from
  // it while the consumer is busy, and the buffer stays bounded. Returns at
  // once when the stream is finished or the consumer is gone.
  asio::awaitable<void> waitForRoom(std::size_t limit) {
    auto state = state_;
    while (state && !state->finished && !state->consumerGone && state->buffer.size() >= limit) {
      state->producerWaiting = true;
      co_await state->changed.wait();
    }
  }

 private:
  friend class AsyncStream<T>;
  explicit StreamProducer(std::shared_ptr<detail::AsyncStreamState<T>> state) : state_(std::move(state)) {}

  std::shared_ptr<detail::AsyncStreamState<T>> state_;
};

}  // namespace glidemate
