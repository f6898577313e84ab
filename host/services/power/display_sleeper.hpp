#pragma once

namespace glidemate::host {

// Turns the display off now, without waiting for the idle time-out.
class DisplaySleeper {
 public:
  virtual ~DisplaySleeper() = default;
  // Throws when the display could not even be asked.
  virtual void sleepDisplay() = 0;
};

}  // namespace glidemate::host
