#include "kit/runtime/notifier.hpp"

#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace glidemate {

Notifier::Notifier(const asio::any_io_executor& executor)
    : timer_(executor, asio::steady_timer::time_point::max()) {}

asio::awaitable<void> Notifier::wait() {
  asio::error_code ignored;
  co_await timer_.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  // The wait ends by notifyAll() or by the waiter's own cancellation; only
  // the coroutine's cancellation state tells them apart.
  asio::cancellation_state state = co_await asio::this_coro::cancellation_state;
  if (state.cancelled() != asio::cancellation_type::none) {
    throw asio::system_error(asio::error::operation_aborted);
  }
}

void Notifier::notifyAll() { timer_.cancel(); }

}  // namespace glidemate
