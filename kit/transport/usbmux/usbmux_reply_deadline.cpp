#include "kit/transport/usbmux/usbmux_reply_deadline.hpp"

namespace glidemate {

USBMuxReplyDeadline::USBMuxReplyDeadline(std::shared_ptr<Socket> socket, std::chrono::steady_clock::duration timeout)
    : timer_(socket->get_executor(), timeout) {
  // The handler may already be queued when the reply arrives; it holds what
  // it touches, and closing a socket that has been moved out does nothing.
  timer_.async_wait([expired = expired_, socket = std::move(socket)](asio::error_code ec) {
    if (ec) {
      return;
    }
    *expired = true;
    asio::error_code ignored;
    socket->close(ignored);
  });
}

USBMuxReplyDeadline::~USBMuxReplyDeadline() { timer_.cancel(); }

}  // namespace glidemate
