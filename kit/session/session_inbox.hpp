#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>

#include "kit/runtime/notifier.hpp"
#include "kit/transport/channel.hpp"
#include "kit/wire/record.hpp"

namespace glidemate {

// One record as it arrived, with the channel it came on.
struct SessionInbound {
  Record record;
  Channel channel = Channel::reliable;
  // A datagram's source, as the transport numbered it.
  std::uint32_t sender = 0;
  bool operator==(const SessionInbound&) const = default;
};

// The records a session has received and not yet consumed, oldest first,
// with the one reader that may wait for them (the handshake, then the
// message stream).
//
// The queue is capped: a reader that stalls while a peer keeps sending must
// not let it grow without bound. When full, an unreliable record is shed
// first (a lost pointer move is harmless, the next one supersedes it); only
// a queue of reliable records loses its oldest, which the reliable order
// check then reports as a gap.
//
// Used only from its executor. Held by std::shared_ptr by whoever may wait
// in next(), so that it outlives its waiter.
class SessionInbox {
 public:
  static constexpr std::size_t capacity = 256;

  // Takes a record as it arrives and returns true, or returns false to
  // leave it queued (its consumer is full).
  using DirectReader = std::function<bool(const SessionInbound&)>;

  explicit SessionInbox(const asio::any_io_executor& executor);

  // Once established, the message stream reads records here as they
  // arrive, saving a wake-up of its task for every record. Used only while
  // nothing is queued, so order is kept. Null to stop.
  void setDirectReader(DirectReader reader) { directReader_ = std::move(reader); }

  // Queues a record, or hands it to the waiting reader. Ignored once
  // finished.
  void deliver(SessionInbound inbound);

  // No further records will arrive; the reader still gets what is queued.
  // Idempotent.
  void finish();

  bool isFinished() const { return finished_; }
  // Whether any record has been delivered, even one taken at once.
  bool hasReceived() const { return received_; }
  std::size_t size() const { return pending_.size(); }
  const std::deque<SessionInbound>& pending() const { return pending_; }

  // The oldest record, or nothing once finished and drained. One reader at
  // a time. A cancelled reader gets asio::system_error(operation_aborted).
  asio::awaitable<std::optional<SessionInbound>> next();

 private:
  void shedOne();

  DirectReader directReader_;
  Notifier changed_;
  std::deque<SessionInbound> pending_;
  std::size_t unreliableCount_ = 0;
  bool finished_ = false;
  bool received_ = false;
  bool readerWaiting_ = false;
};

}  // namespace glidemate
