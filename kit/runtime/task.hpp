#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <memory>

namespace glidemate {

// Long-lived work: a coroutine started with co_spawn on an executor, which
// its owner can cancel and await. Destroying the Task cancels the work, so
// every loop has an owner that ends it.
//
// Cancellation reaches whatever operation the work is suspended in (a
// socket read, a timer, AsyncStream::next, Notifier::wait); that operation
// then throws asio::system_error(operation_aborted) inside the work. Work
// that never suspends again simply runs to its end.
//
// Used only from its executor.
class Task {
 public:
  // A task with no work: already done.
  Task() = default;
  Task(const asio::any_io_executor& executor, asio::awaitable<void> work);

  Task(Task&&) noexcept = default;
  // Cancels the work this task held before.
  Task& operator=(Task&& other) noexcept;
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task();

  // Asks the work to stop. Idempotent; no effect once the work has ended.
  void cancel();

  // True once the work has ended, however it ended.
  bool isDone() const;

  // Suspends until the work has ended. Rethrows the exception the work
  // ended with, except the operation_aborted that cancel() itself caused.
  // Several coroutines may join the same task.
  asio::awaitable<void> join() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate
