#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "host/input/frame_clock.hpp"

namespace glidemate::host::testing {

// A frame clock that only moves when the test says so. Sleepers whose
// deadline has come wake up when the test next runs the io_context.
class ManualFrameClock final : public FrameClock {
 public:
  ManualFrameClock() : now_(std::chrono::steady_clock::time_point{} + std::chrono::hours(1)) {}

  TimePoint now() const override { return now_; }
  asio::awaitable<void> sleepUntil(TimePoint deadline) override;

  void advance(std::chrono::steady_clock::duration by);
  // The earliest deadline anyone sleeps until, if anyone sleeps.
  std::optional<TimePoint> nextDeadline() const;

 private:
  struct Sleeper;
  TimePoint now_;
  std::vector<Sleeper*> sleepers_;
};

}  // namespace glidemate::host::testing
