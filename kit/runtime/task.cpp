#include "kit/runtime/task.hpp"

#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/error.hpp>
#include <asio/system_error.hpp>
#include <exception>

#include "kit/runtime/notifier.hpp"

namespace glidemate {

struct Task::State {
  explicit State(const asio::any_io_executor& executor) : ended(executor) {}

  // Lives as long as the spawned work may look at it: the completion handler
  // holds this state.
  asio::cancellation_signal signal;
  Notifier ended;
  bool done = false;
  bool cancelRequested = false;
  std::exception_ptr failure;
};

namespace {

bool isAbort(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const asio::system_error& e) {
    return e.code() == asio::error::operation_aborted;
  } catch (...) {
    return false;
  }
}

}  // namespace

Task::Task(const asio::any_io_executor& executor, asio::awaitable<void> work)
    : state_(std::make_shared<State>(executor)) {
  asio::co_spawn(executor, std::move(work),
                 asio::bind_cancellation_slot(state_->signal.slot(), [state = state_](std::exception_ptr failure) {
                   state->done = true;
                   state->failure = failure;
                   state->ended.notifyAll();
                 }));
}

Task& Task::operator=(Task&& other) noexcept {
  if (this != &other) {
    cancel();
    state_ = std::move(other.state_);
  }
  return *this;
}

Task::~Task() { cancel(); }

void Task::cancel() {
  if (!state_ || state_->done || state_->cancelRequested) {
    return;
  }
  state_->cancelRequested = true;
  state_->signal.emit(asio::cancellation_type::terminal);
}

bool Task::isDone() const { return !state_ || state_->done; }

asio::awaitable<void> Task::join() const {
  auto state = state_;
  if (!state) {
    co_return;
  }
  while (!state->done) {
    co_await state->ended.wait();
  }
  if (state->failure && !(state->cancelRequested && isAbort(state->failure))) {
    std::rethrow_exception(state->failure);
  }
}

}  // namespace glidemate
