#include "kit/session/replay_window.hpp"

namespace glidemate {

bool ReplayWindow::accept(std::uint64_t sequence) {
  if (!hasSeenAny_) {
    hasSeenAny_ = true;
    bitmap_ = 1;
    highest_ = sequence;
    return true;
  }
  if (sequence <= highest_) {
    const std::uint64_t distance = highest_ - sequence;
    if (distance >= width) return false;
    const std::uint64_t bit = std::uint64_t{1} << distance;
    if ((bitmap_ & bit) != 0) return false;
    bitmap_ |= bit;
    return true;
  }
  const std::uint64_t distance = sequence - highest_;
  bitmap_ = distance < width ? (bitmap_ << distance) | 1 : 1;
  highest_ = sequence;
  return true;
}

}  // namespace glidemate
