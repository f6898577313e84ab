#include "kit/transport/ble/ble_send_queue.hpp"

#include <algorithm>

#include "kit/transport/ble/ble_protocol.hpp"

namespace glidemate {

BLESendQueue::BLESendQueue(std::size_t fragmentSize) : fragmentSize_(std::max<std::size_t>(fragmentSize, 1)) {}

void BLESendQueue::setFragmentSize(std::size_t size) { fragmentSize_ = std::max<std::size_t>(size, 1); }

bool BLESendQueue::enqueue(ByteView data, bool droppable) {
  if (data.empty()) {
    return true;
  }
  if (droppable && pending_.size() >= BLEProtocol::backlogLimit) {
    return false;
  }
  pending_.insert(pending_.end(), data.begin(), data.end());
  return true;
}

std::optional<Bytes> BLESendQueue::nextFragment() {
  if (pending_.empty()) {
    return std::nullopt;
  }
  const auto count = static_cast<std::ptrdiff_t>(std::min(pending_.size(), fragmentSize_));
  Bytes fragment(pending_.begin(), pending_.begin() + count);
  pending_.erase(pending_.begin(), pending_.begin() + count);
  return fragment;
}

void BLESendQueue::prepend(ByteView data) { pending_.insert(pending_.begin(), data.begin(), data.end()); }

}  // namespace glidemate
