#include "host/input/frame_clock.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace glidemate::host {

asio::awaitable<void> SteadyFrameClock::sleepUntil(TimePoint deadline) {
  asio::steady_timer timer(co_await asio::this_coro::executor, deadline);
  co_await timer.async_wait(asio::use_awaitable);
}

}  // namespace glidemate::host
