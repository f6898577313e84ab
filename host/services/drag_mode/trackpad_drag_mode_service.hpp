#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <functional>
#include <memory>

#include "host/input/frame_clock.hpp"
#include "host/services/drag_mode/drag_mode_setting.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {

// Watches the three-finger-drag setting so that phones can mirror it. The
// setting has no change notification, so it is read again every two
// seconds on `clock`; a change is stored and handed to the observer.
class TrackpadDragModeService {
 public:
  static constexpr std::chrono::seconds pollInterval{2};

  // Reads the setting once, for isEnabled().
  TrackpadDragModeService(asio::any_io_executor executor, std::unique_ptr<DragModeSetting> setting,
                          std::shared_ptr<FrameClock> clock);

  bool isEnabled() const { return isEnabled_; }

  // Starts watching, the first read at once, unless watching already; the
  // observer gets every new value.
  void startPolling(std::function<void(bool)> onChange);
  // Stops watching; startPolling() may start again.
  void stopPolling();

 private:
  static asio::awaitable<void> poll(TrackpadDragModeService& service, std::shared_ptr<FrameClock> clock,
                                    std::function<void(bool)> onChange);

  asio::any_io_executor executor_;
  std::unique_ptr<DragModeSetting> setting_;
  std::shared_ptr<FrameClock> clock_;
  bool isEnabled_;
  // Cancelled when the service goes, so the loop never outlives it.
  Task pollTask_;
};

}  // namespace glidemate::host
