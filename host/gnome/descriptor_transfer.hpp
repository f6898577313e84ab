#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace glidemate::host {

// Moving bytes through a descriptor another process holds the other end
// of (a pipe mutter hands over for a clipboard transfer), on the executor
// without blocking it, within a time-out. Both take the descriptor over and
// close it when they end.

// Writes all of `data`; false when the reader went away or did not take it
// all within `timeout`.
asio::awaitable<bool> writeToDescriptor(const asio::any_io_executor& executor, int fd, std::string data,
                                        std::chrono::milliseconds timeout);

// Reads up to the end, or up to `maxBytes` (the rest is left unread);
// nothing when the writer did not finish within `timeout` or the read
// failed.
asio::awaitable<std::optional<std::string>> readFromDescriptor(const asio::any_io_executor& executor, int fd,
                                                               std::size_t maxBytes,
                                                               std::chrono::milliseconds timeout);

}  // namespace glidemate::host
