#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace glidemate {

// Work that must not hold up the main executor (a download, decoding an
// image) runs here, each job on a thread of its own, while its caller waits
// without blocking and resumes on the executor with the result. The jobs
// belong to this object: destroying it asks every job to stop and joins its
// thread, so no thread outlives its owner; callers still waiting then resume
// with operation_aborted.
//
// Used only from its executor. The work itself must not touch anything of
// the executor's; it gets its inputs by value and returns its result.
class BackgroundJobs {
 public:
  // Raised (from the executor) when the job should give up early; work that
  // runs long checks it.
  using StopFlag = const std::atomic<bool>&;

  explicit BackgroundJobs(asio::any_io_executor executor);
  ~BackgroundJobs();
  BackgroundJobs(const BackgroundJobs&) = delete;
  BackgroundJobs& operator=(const BackgroundJobs&) = delete;

  // Runs work(stop) on a new thread; returns its result or rethrows what it
  // threw. Cancelling the caller raises the stop flag, calls `interrupt` on
  // the executor (to wake work that is waiting on something) and resumes
  // the caller at once with operation_aborted; the thread is joined when it
  // has ended.
  template <class T>
  asio::awaitable<T> run(std::function<T(StopFlag)> work, std::function<void()> interrupt = {}) {
    auto result = std::make_shared<std::optional<T>>();
    // Named rather than a temporary of the co_await expression: g++ 12
    // destroys such temporaries twice.
    std::function<void(StopFlag)> erased = [result, work = std::move(work)](StopFlag stop) {
      result->emplace(work(stop));
    };
    co_await runErased(std::move(erased), std::move(interrupt));
    co_return std::move(**result);
  }

  // Jobs whose thread has not been joined yet.
  std::size_t unfinished() const;

 private:
  struct Job;
  struct State;

  asio::awaitable<void> runErased(std::function<void(StopFlag)> work, std::function<void()> interrupt);

  std::shared_ptr<State> state_;
};

}  // namespace glidemate
