#include "host/server/cable_daemon_retry.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace glidemate::host {

CableDaemonRetry::CableDaemonRetry(asio::any_io_executor executor, std::weak_ptr<USBMuxClient> client,
                                   Duration delay, Log log)
    : executor_(std::move(executor)), client_(std::move(client)), delay_(delay), log_(std::move(log)) {}

void CableDaemonRetry::connected() {
  if (state_ != State::connected) log_("Cable: connected to usbmuxd");
  state_ = State::connected;
}

void CableDaemonRetry::disconnected() {
  if (state_ == State::connected) {
    log_("Cable: lost usbmuxd; waiting for it to come back");
  } else if (state_ == State::starting) {
    log_("Cable: usbmuxd is not running; waiting for it");
  }
  state_ = State::waiting;
  retry_ = Task(executor_, restartLater(client_, delay_));
}

void CableDaemonRetry::reset() {
  retry_.cancel();
  state_ = State::starting;
}

asio::awaitable<void> CableDaemonRetry::restartLater(std::weak_ptr<USBMuxClient> client, Duration delay) {
  asio::steady_timer pause(co_await asio::this_coro::executor, delay);
  co_await pause.async_wait(asio::use_awaitable);
  if (auto c = client.lock()) {
    // The lost connection stays recorded in the client until stop().
    c->stop();
    c->start();
  }
}

}  // namespace glidemate::host
