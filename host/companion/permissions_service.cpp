#include "host/companion/permissions_service.hpp"

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace glidemate::host {

PermissionsService::PermissionsService(asio::any_io_executor executor, PermissionProbe& probe,
                                       std::chrono::steady_clock::duration pollInterval)
    : executor_(std::move(executor)), probe_(probe), pollInterval_(pollInterval) {}

void PermissionsService::refresh() {
  refreshInput();
  const auto capture = probe_.capture();
  screenRecordingWhy.set(capture.allowed ? std::string() : capture.why);
  isScreenRecordingAllowed.set(capture.allowed);
  const auto bus = probe_.sessionBus();
  automationWhy.set(bus.allowed ? std::string() : bus.why);
  automation.set(bus.allowed ? AutomationState::granted : AutomationState::denied);
}

void PermissionsService::refreshInput() {
  const auto input = probe_.input();
  accessibilityWhy.set(input.allowed ? std::string() : input.why);
  inputQuestion.set(input.question);
  isAccessibilityTrusted.set(input.allowed);
}

void PermissionsService::askForInputAgain() { probe_.askForInputAgain(); }

void PermissionsService::startPolling() {
  if (isPolling()) return;
  pollTask_ = Task(executor_, poll());
}

// The task is the service's own and is cancelled with it, so `this` is
// valid whenever the loop runs.
asio::awaitable<void> PermissionsService::poll() {
  asio::steady_timer timer(co_await asio::this_coro::executor);
  for (;;) {
    refresh();
    if (*isAccessibilityTrusted || *inputQuestion != InputQuestion::none) co_return;
    timer.expires_after(pollInterval_);
    co_await timer.async_wait(asio::use_awaitable);
  }
}

}  // namespace glidemate::host
