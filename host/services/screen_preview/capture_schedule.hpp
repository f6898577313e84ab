#pragma once

#include <chrono>

namespace glidemate::host {

// When the preview captures: only after something changed (or a fresh
// frame was asked for), and never more often than 24 times a second, so a
// busy screen costs at most 24 frames and a still one costs none.
class CaptureSchedule {
 public:
  using Clock = std::chrono::steady_clock;
  // Rounded up, so that 24 intervals are never shorter than a second.
  static constexpr Clock::duration minimumInterval = std::chrono::nanoseconds((1'000'000'000 + 23) / 24);

  // The screen, the pointer or what the viewers want changed.
  void changed() { pending_ = true; }

  // Whether to capture at `now`.
  bool isDue(Clock::time_point now) const { return pending_ && now >= nextAllowed(); }

  // Until when to wait for changes: the next allowed capture while
  // one is pending, otherwise for as long as nothing happens.
  Clock::time_point waitUntil() const { return pending_ ? nextAllowed() : Clock::time_point::max(); }

  void captured(Clock::time_point at) {
    pending_ = false;
    last_ = at;
    hasCaptured_ = true;
  }

 private:
  Clock::time_point nextAllowed() const { return hasCaptured_ ? last_ + minimumInterval : Clock::time_point::min(); }

  bool pending_ = false;
  bool hasCaptured_ = false;
  Clock::time_point last_{};
};

}  // namespace glidemate::host
