#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace glidemate {

// Slows down guessing of pairing codes: three wrong codes within five
// minutes block pairing for five minutes. The caller passes the current
// time in, so the throttle itself never reads a clock. Times are on the
// monotonic clock: a block is an interval, and a change of the wall clock
// must neither lift it early nor stretch it.
class PairingThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  static constexpr std::size_t failureLimit = 3;
  static constexpr std::chrono::seconds failureWindow{300};
  static constexpr std::chrono::seconds blockDuration{300};

  // A block exists and ends after `now`.
  bool isBlocked(TimePoint now) const;
  // The end of the block when one is in force at `now`.
  std::optional<TimePoint> blockExpiry(TimePoint now) const;
  // Forgets failures older than the window and a block that has ended.
  void prune(TimePoint now);
  void recordFailure(TimePoint now);
  void recordSuccess();

  // Times of recent wrong codes, oldest first.
  const std::vector<TimePoint>& failures() const { return failures_; }
  const std::optional<TimePoint>& blockedUntil() const { return blockedUntil_; }

  bool operator==(const PairingThrottle&) const = default;

 private:
  std::vector<TimePoint> failures_;
  std::optional<TimePoint> blockedUntil_;
};

}  // namespace glidemate
