#include "host/services/drag_mode/trackpad_drag_mode_service.hpp"

namespace glidemate::host {

TrackpadDragModeService::TrackpadDragModeService(asio::any_io_executor executor,
                                                 std::unique_ptr<DragModeSetting> setting,
                                                 std::shared_ptr<FrameClock> clock)
    : executor_(std::move(executor)),
      setting_(std::move(setting)),
      clock_(std::move(clock)),
      isEnabled_(setting_->isThreeFingerDragOn()) {}

void TrackpadDragModeService::startPolling(std::function<void(bool)> onChange) {
  if (!pollTask_.isDone()) return;
  pollTask_ = Task(executor_, poll(*this, clock_, std::move(onChange)));
}

void TrackpadDragModeService::stopPolling() { pollTask_ = Task(); }

asio::awaitable<void> TrackpadDragModeService::poll(TrackpadDragModeService& service,
                                                    std::shared_ptr<FrameClock> clock,
                                                    std::function<void(bool)> onChange) {
  // The service is only touched between sleeps: a sleep ended by the
  // service going away (or stopping the poll) throws and ends the loop.
  for (;;) {
    const bool enabled = service.setting_->isThreeFingerDragOn();
    if (enabled != service.isEnabled_) {
      service.isEnabled_ = enabled;
      if (onChange) onChange(enabled);
    }
    co_await clock->sleepUntil(clock->now() + pollInterval);
  }
}

}  // namespace glidemate::host
