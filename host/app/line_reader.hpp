#pragma once

#include <asio/any_io_executor.hpp>
#include <functional>
#include <string>
#include <thread>

namespace glidemate::host {

// Reads lines from a file descriptor (stdin) on a thread of its own and
// hands each to `onLine` on the executor. Whatever the descriptor is (a
// terminal, a pipe, a file, /dev/null), reading never blocks the executor;
// the end of input just ends reading. Destroying the reader stops it.
class LineReader {
 public:
  LineReader(asio::any_io_executor executor, int fd, std::function<void(std::string)> onLine);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

 private:
  void run();

  asio::any_io_executor executor_;
  int fd_;
  std::function<void(std::string)> onLine_;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace glidemate::host
