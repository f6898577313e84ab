#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Bytes waiting to be handed to the radio, cut into fragments of at most
// the link's size. Reliable data waits without limit; droppable data is
// refused once the backlog has reached BLEProtocol::backlogLimit, so a
// stalled radio cannot make stale pointer moves pile up.
class BLESendQueue {
 public:
  explicit BLESendQueue(std::size_t fragmentSize);

  std::size_t pendingBytes() const { return pending_.size(); }
  bool isEmpty() const { return pending_.empty(); }
  std::size_t maximumFragment() const { return fragmentSize_; }
  // Sizes below 1 become 1.
  void setFragmentSize(std::size_t size);

  // False when droppable data was refused (and nothing was kept). Empty
  // data is accepted and ignored.
  bool enqueue(ByteView data, bool droppable);
  // The first fragment, removed from the queue; nothing when empty.
  std::optional<Bytes> nextFragment();
  // Puts a fragment the radio could not take back in front.
  void prepend(ByteView data);
  void reset() { pending_.clear(); }

 private:
  std::deque<std::uint8_t> pending_;
  std::size_t fragmentSize_;
};

}  // namespace glidemate
