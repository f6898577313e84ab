#pragma once

#include <asio/awaitable.hpp>
#include <asio/steady_timer.hpp>

namespace glidemate {

// A place where coroutines wait until someone tells them that something
// changed; waiters re-check their own condition after waking. It is the one
// building block behind the stream and the task helper, so that nothing in
// the library polls or keeps ad-hoc flags for waking.
//
// Used only from its executor. Outlives its waiters (hold it in shared state
// that the waiting coroutine keeps alive).
class Notifier {
 public:
  explicit Notifier(const asio::any_io_executor& executor);

  // Suspends until the next notifyAll(). A coroutine cancelled while waiting
  // (or already cancelled) gets asio::system_error(operation_aborted).
  asio::awaitable<void> wait();

  // Wakes every coroutine waiting now; one that starts waiting later is not
  // woken by this call, so callers check their condition before waiting.
  void notifyAll();

 private:
  // A timer that never expires: waiting on it parks a coroutine and
  // cancelling it wakes every parked one in the order they arrived.
  asio::steady_timer timer_;
};

}  // namespace glidemate
