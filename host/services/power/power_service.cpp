#include "host/services/power/power_service.hpp"

namespace glidemate::host {

PowerService::PowerService(const asio::any_io_executor& executor, std::unique_ptr<PowerActions> actions,
                           std::unique_ptr<DisplaySleeper> display, std::unique_ptr<KeepAwakeAssertions> keepAwake)
    : actions_(std::move(actions)),
      display_(std::move(display)),
      keepAwake_(std::move(keepAwake)),
      changed_(executor) {
  keepAwake_->onLost([this] {
    if (!assertion_) return;
    assertion_.reset();
    if (onKeepAwakeLost) onKeepAwakeLost();
  });
}

asio::awaitable<void> PowerService::setKeepAwake(bool on) {
  while (changing_) co_await changed_.wait();
  changing_ = true;
  struct Done {
    PowerService& service;
    ~Done() {
      service.changing_ = false;
      service.changed_.notifyAll();
    }
  } done{*this};

  if (on && !assertion_) {
    assertion_ = co_await keepAwake_->create(keepAwakeName);
  } else if (!on && assertion_) {
    const std::uint32_t held = *assertion_;
    assertion_.reset();
    co_await keepAwake_->release(held);
  }
}

}  // namespace glidemate::host
