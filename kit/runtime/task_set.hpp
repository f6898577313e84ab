#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <memory>

namespace glidemate {

// Work that its owner starts and does not wait for (a send to each phone, a
// connection served to its end). Each task is dropped once it has ended, so
// the set does not grow with every piece of work it ran; whatever still runs
// is cancelled by cancelAll() or when the set goes.
//
// Used only from its executor.
class TaskSet {
 public:
  explicit TaskSet(const asio::any_io_executor& executor);
  ~TaskSet();
  TaskSet(const TaskSet&) = delete;
  TaskSet& operator=(const TaskSet&) = delete;

  void spawn(asio::awaitable<void> work);
  void cancelAll();

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace glidemate
