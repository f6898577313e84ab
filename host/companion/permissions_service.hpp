#pragma once

#include <asio/any_io_executor.hpp>
#include <chrono>
#include <string>

#include "host/companion/permission_probe.hpp"
#include "host/server/observable.hpp"
#include "kit/runtime/task.hpp"

namespace glidemate::host {

// The three things the desktop must let the host do, as the user interface
// shows them: posting input ("trusted"), capturing the screen and reaching
// desktop services. Until input can be posted, polling re-checks every
// interval and stops by itself once it can. Lives on the main executor.
class PermissionsService {
 public:
  enum class AutomationState { unknown, granted, denied };
  using InputQuestion = PermissionProbe::Question;

  static constexpr std::chrono::seconds defaultPollInterval{1};

  PermissionsService(asio::any_io_executor executor, PermissionProbe& probe,
                     std::chrono::steady_clock::duration pollInterval = defaultPollInterval);

  Observable<bool> isAccessibilityTrusted{false};
  Observable<bool> isScreenRecordingAllowed{false};
  Observable<AutomationState> automation{AutomationState::unknown};
  // Why each is not allowed, for the user; empty while it is.
  Observable<std::string> accessibilityWhy;
  Observable<std::string> screenRecordingWhy;
  Observable<std::string> automationWhy;
  // Where the desktop's question about input stands, on desktops that ask.
  Observable<InputQuestion> inputQuestion{InputQuestion::none};

  // Asks the probe again about all three.
  void refresh();
  // Asks the probe again about input alone (when it is told it changed).
  void refreshInput();
  // Has the desktop ask the user again after a refusal; its answer comes
  // through refreshInput().
  void askForInputAgain();
  // Re-checks every interval until input can be posted, or until the
  // desktop is asking the user, whose answer is not polled for. Does
  // nothing while a poll is running.
  void startPolling();
  void stopPolling() { pollTask_.cancel(); }
  bool isPolling() const { return !pollTask_.isDone(); }

 private:
  asio::awaitable<void> poll();

  asio::any_io_executor executor_;
  PermissionProbe& probe_;
  std::chrono::steady_clock::duration pollInterval_;
  Task pollTask_;
};

}  // namespace glidemate::host
