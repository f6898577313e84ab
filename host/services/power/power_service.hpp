#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "host/services/power/display_sleeper.hpp"
#include "host/services/power/keep_awake_assertions.hpp"
#include "host/services/power/power_actions.hpp"
#include "kit/runtime/notifier.hpp"

namespace glidemate::host {

// The phone's power controls: sleep, lock, restart and shut down, display
// off, and keeping the display awake while the phone asks for it (one
// assertion at most, whatever the number of requests).
class PowerService {
 public:
  static constexpr const char* keepAwakeName = "Kept awake from Glidemate";

  PowerService(const asio::any_io_executor& executor, std::unique_ptr<PowerActions> actions,
               std::unique_ptr<DisplaySleeper> display, std::unique_ptr<KeepAwakeAssertions> keepAwake);
  PowerService(const PowerService&) = delete;
  PowerService& operator=(const PowerService&) = delete;

  // Throws AppleScriptRunner::Failure.
  asio::awaitable<void> perform(PowerAction action) { co_await actions_->perform(action); }
  // Throws when the display could not be asked.
  void sleepDisplay() { display_->sleepDisplay(); }

  // Takes or gives back the assertion; asking for what already holds does
  // nothing. Requests are carried out one after another, so two phones
  // asking at once still make one assertion. Never fails: when the system
  // refuses, the computer is simply not kept awake.
  asio::awaitable<void> setKeepAwake(bool on);
  bool isKeptAwake() const { return assertion_.has_value(); }

  // Told when the system dropped the assertion by itself.
  std::function<void()> onKeepAwakeLost;

 private:
  std::unique_ptr<PowerActions> actions_;
  std::unique_ptr<DisplaySleeper> display_;
  std::unique_ptr<KeepAwakeAssertions> keepAwake_;
  std::optional<std::uint32_t> assertion_;
  bool changing_ = false;
  Notifier changed_;
};

}  // namespace glidemate::host
