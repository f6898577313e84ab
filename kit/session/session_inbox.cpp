#include "kit/session/session_inbox.hpp"

#include <algorithm>
#include <utility>

namespace glidemate {

SessionInbox::SessionInbox(const asio::any_io_executor& executor) : changed_(executor) {}

void SessionInbox::deliver(SessionInbound inbound) {
  if (finished_) {
    return;
  }
  received_ = true;
  if (pending_.empty() && directReader_ && directReader_(inbound)) {
    return;
  }
  if (pending_.size() >= capacity) {
    shedOne();
  }
  if (inbound.channel == Channel::unreliable) {
    ++unreliableCount_;
  }
  pending_.push_back(std::move(inbound));
  if (readerWaiting_) {
    readerWaiting_ = false;
    changed_.notifyAll();
  }
}

void SessionInbox::shedOne() {
  if (unreliableCount_ > 0) {
    const auto oldestUnreliable = std::find_if(pending_.begin(), pending_.end(), [](const SessionInbound& i) {
      return i.channel == Channel::unreliable;
    });
    pending_.erase(oldestUnreliable);
    --unreliableCount_;
    return;
  }
  pending_.pop_front();
}

void SessionInbox::finish() {
  if (finished_) {
    return;
  }
  finished_ = true;
  readerWaiting_ = false;
  changed_.notifyAll();
}

asio::awaitable<std::optional<SessionInbound>> SessionInbox::next() {
  while (pending_.empty() && !finished_) {
    readerWaiting_ = true;
    co_await changed_.wait();
  }
  if (pending_.empty()) {
    co_return std::nullopt;
  }
  std::optional<SessionInbound> inbound(std::move(pending_.front()));
  pending_.pop_front();
  if (inbound->channel == Channel::unreliable) {
    --unreliableCount_;
  }
  co_return inbound;
}

}  // namespace glidemate
