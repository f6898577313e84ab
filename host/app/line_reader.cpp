#include "host/app/line_reader.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <asio/post.hpp>
#include <cerrno>
#include <stdexcept>

namespace glidemate::host {

LineReader::LineReader(asio::any_io_executor executor, int fd,
                       std::function<void(std::string)> onLine)
    : executor_(std::move(executor)), fd_(fd), onLine_(std::move(onLine)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  thread_ = std::thread([this] { run(); });
}

LineReader::~LineReader() {
  const char stop = 0;
  [[maybe_unused]] const auto ignored = ::write(wake_[1], &stop, 1);
  thread_.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void LineReader::run() {
  std::string pending;
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    char buffer[4096];
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (!pending.empty()) asio::post(executor_, [onLine = onLine_, line = std::move(pending)] { onLine(line); });
      return;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (auto newline = pending.find('\n'); newline != std::string::npos;
         newline = pending.find('\n')) {
      std::string line = pending.substr(0, newline);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending.erase(0, newline + 1);
      asio::post(executor_, [onLine = onLine_, line = std::move(line)] { onLine(line); });
    }
  }
}

}  // namespace glidemate::host
