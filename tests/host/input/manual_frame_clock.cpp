#include "manual_frame_clock.hpp"

#include <algorithm>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <system_error>

namespace glidemate::host::testing {

// A sleeper waits on a timer that never expires by itself; advancing the
// clock cancels it, and `woken` tells that apart from the task's own
// cancellation.
struct ManualFrameClock::Sleeper {
  TimePoint deadline;
  asio::steady_timer* timer;
  bool woken = false;
};

asio::awaitable<void> ManualFrameClock::sleepUntil(TimePoint deadline) {
  if (deadline <= now_) co_return;
  asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::steady_clock::time_point::max());
  Sleeper sleeper{deadline, &timer};
  sleepers_.push_back(&sleeper);
  struct Unregister {
    std::vector<Sleeper*>& list;
    Sleeper* sleeper;
    ~Unregister() { std::erase(list, sleeper); }
  } unregister{sleepers_, &sleeper};
  try {
    co_await timer.async_wait(asio::use_awaitable);
  } catch (const std::system_error&) {
    if (!sleeper.woken) throw;
  }
}

void ManualFrameClock::advance(std::chrono::steady_clock::duration by) {
  now_ += by;
  for (auto* sleeper : sleepers_) {
    if (!sleeper->woken && sleeper->deadline <= now_) {
      sleeper->woken = true;
      sleeper->timer->cancel();
    }
  }
}

std::optional<ManualFrameClock::TimePoint> ManualFrameClock::nextDeadline() const {
  std::optional<TimePoint> earliest;
  for (const auto* sleeper : sleepers_) {
    if (!earliest || sleeper->deadline < *earliest) earliest = sleeper->deadline;
  }
  return earliest;
}

}  // namespace glidemate::host::testing
