#pragma once

#include <asio/awaitable.hpp>
#include <chrono>

namespace glidemate::host {

// Monotonic time and sleeping for tasks that pace themselves by display
// frames. The steady one sleeps on a timer; tests drive a manual one so that
// no test waits on the wall clock.
class FrameClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~FrameClock() = default;
  virtual TimePoint now() const = 0;
  // Completes at `deadline` on the awaiting task's executor. A cancelled
  // task gets asio::error::operation_aborted thrown as std::system_error.
  virtual asio::awaitable<void> sleepUntil(TimePoint deadline) = 0;
};

class SteadyFrameClock final : public FrameClock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  asio::awaitable<void> sleepUntil(TimePoint deadline) override;
};

}  // namespace glidemate::host
