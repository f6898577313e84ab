#pragma once

#include <chrono>
#include <functional>

namespace glidemate::host {

// The host's two clocks, injectable so that tests decide what time it is:
// wall-clock time for what people see (pairing dates, "blocked until"),
// monotonic time for every interval and deadline.
struct HostClock {
  std::function<std::chrono::system_clock::time_point()> wallNow = [] {
    return std::chrono::system_clock::now();
  };
  std::function<std::chrono::steady_clock::time_point()> monotonicNow = [] {
    return std::chrono::steady_clock::now();
  };
};

}  // namespace glidemate::host
