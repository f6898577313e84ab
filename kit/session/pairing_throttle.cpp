#include "kit/session/pairing_throttle.hpp"

#include <algorithm>

namespace glidemate {

bool PairingThrottle::isBlocked(TimePoint now) const { return blockedUntil_ && *blockedUntil_ > now; }

std::optional<PairingThrottle::TimePoint> PairingThrottle::blockExpiry(TimePoint now) const {
  if (isBlocked(now)) return blockedUntil_;
  return std::nullopt;
}

void PairingThrottle::prune(TimePoint now) {
  const TimePoint oldestKept = now - failureWindow;
  std::erase_if(failures_, [&](TimePoint t) { return t < oldestKept; });
  if (blockedUntil_ && *blockedUntil_ <= now) blockedUntil_.reset();
}

void PairingThrottle::recordFailure(TimePoint now) {
  prune(now);
  failures_.push_back(now);
  if (failures_.size() >= failureLimit) {
    blockedUntil_ = now + blockDuration;
    failures_.clear();
  }
}

void PairingThrottle::recordSuccess() {
  failures_.clear();
  blockedUntil_.reset();
}

}  // namespace glidemate
