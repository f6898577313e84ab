#pragma once

#include <cstdint>

namespace glidemate {

// Accepts each datagram sequence number at most once, within a sliding
// window of the 64 numbers up to the highest seen. Datagrams may arrive out
// of order or not at all; this only stops replays. One 64-bit word: bit i
// set means `highest - i` has been accepted.
class ReplayWindow {
 public:
  static constexpr std::uint64_t width = 64;

  // True (and remembered) for a number not seen before and not older than
  // the window; a refusal changes nothing.
  bool accept(std::uint64_t sequence);

  std::uint64_t bitmap() const { return bitmap_; }
  std::uint64_t highest() const { return highest_; }
  bool hasSeenAny() const { return hasSeenAny_; }

  bool operator==(const ReplayWindow&) const = default;

 private:
  std::uint64_t bitmap_ = 0;
  std::uint64_t highest_ = 0;
  bool hasSeenAny_ = false;
};

}  // namespace glidemate
