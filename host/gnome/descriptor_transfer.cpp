#include "host/gnome/descriptor_transfer.hpp"

#include <asio/posix/stream_descriptor.hpp>
#include <asio/read.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <array>
#include <memory>

namespace glidemate::host {
namespace {

// The descriptor with its deadline: when the time is up, the operation
// under way is cancelled. The timer's handler holds it weakly, so a
// deadline that fires as the transfer ends touches nothing that is gone.
struct Deadline {
  Deadline(const asio::any_io_executor& executor, int fd, std::chrono::milliseconds timeout)
      : stream(executor, fd), timer(executor, timeout) {}
  asio::posix::stream_descriptor stream;
  asio::steady_timer timer;
  bool expired = false;

  static std::shared_ptr<Deadline> start(const asio::any_io_executor& executor, int fd,
                                         std::chrono::milliseconds timeout) {
    auto deadline = std::make_shared<Deadline>(executor, fd, timeout);
    deadline->timer.async_wait([weak = std::weak_ptr<Deadline>(deadline)](const asio::error_code& error) {
      auto d = weak.lock();
      if (error || !d) return;
      d->expired = true;
      d->stream.cancel();
    });
    return deadline;
  }
};

}  // namespace

asio::awaitable<bool> writeToDescriptor(const asio::any_io_executor& executor, int fd, std::string data,
                                        std::chrono::milliseconds timeout) {
  const auto deadline = Deadline::start(executor, fd, timeout);
  asio::error_code error;
  const asio::const_buffer bytes = asio::buffer(data);
  co_await asio::async_write(deadline->stream, bytes, asio::redirect_error(asio::use_awaitable, error));
  deadline->timer.cancel();
  co_return !error && !deadline->expired;
}

asio::awaitable<std::optional<std::string>> readFromDescriptor(const asio::any_io_executor& executor, int fd,
                                                               std::size_t maxBytes,
                                                               std::chrono::milliseconds timeout) {
  const auto deadline = Deadline::start(executor, fd, timeout);
  std::string data;
  std::array<char, 65536> buffer{};
  const asio::mutable_buffer room = asio::buffer(buffer);
  for (;;) {
    asio::error_code error;
    const std::size_t n =
        co_await deadline->stream.async_read_some(room, asio::redirect_error(asio::use_awaitable, error));
    data.append(buffer.data(), n);
    if (data.size() >= maxBytes) {
      data.resize(maxBytes);
      break;
    }
    if (error == asio::error::eof) break;
    if (error || deadline->expired) {
      deadline->timer.cancel();
      co_return std::nullopt;
    }
  }
  deadline->timer.cancel();
  co_return data;
}

}  // namespace glidemate::host
