#pragma once

#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>

namespace glidemate {

// Closes a daemon connection whose reply does not come in time, so that a
// daemon that accepts and then stays silent cannot leave a reader waiting
// for ever. The read under way then fails, and expired() tells why.
class USBMuxReplyDeadline {
 public:
  using Socket = asio::local::stream_protocol::socket;

  USBMuxReplyDeadline(std::shared_ptr<Socket> socket, std::chrono::steady_clock::duration timeout);
  ~USBMuxReplyDeadline();
  USBMuxReplyDeadline(const USBMuxReplyDeadline&) = delete;
  USBMuxReplyDeadline& operator=(const USBMuxReplyDeadline&) = delete;

  bool expired() const { return *expired_; }

 private:
  std::shared_ptr<bool> expired_ = std::make_shared<bool>(false);
  asio::steady_timer timer_;
};

}  // namespace glidemate
