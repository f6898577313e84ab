#pragma once

#include <asio/awaitable.hpp>
#include <asio/buffer.hpp>
#include <asio/generic/stream_protocol.hpp>
#include <memory>
#include <optional>
#include <vector>

#include "kit/runtime/notifier.hpp"
#include "kit/transport/transport_error.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate {

// Writes a byte stream in the order writes were asked for, one socket
// write at a time. Writes asked for before the stream is open wait in the
// queue. A write, once queued, is never cut short by its caller's
// cancellation: a record half written would corrupt the stream for good.
//
// Held by std::shared_ptr: a write in progress keeps the writer alive.
class StreamWriter : public std::enable_shared_from_this<StreamWriter> {
 public:
  using Socket = asio::generic::stream_protocol::socket;

  static std::shared_ptr<StreamWriter> make(std::shared_ptr<Socket> socket);

  // Suspends until `data` has been written. Throws the reason given to
  // fail() if the stream ends first, or TransportError::underlying with the
  // socket's error.
  asio::awaitable<void> write(Bytes data);

  // Starts writing what is queued and what comes later.
  void open();

  // Ends the stream: every queued write and every later one throws
  // `reason`. The write on the socket, if any, ends when the socket is
  // closed.
  void fail(const TransportError& reason);

 private:
  struct Pending {
    Bytes data;
    bool done = false;
    std::optional<TransportError> error;
  };

  explicit StreamWriter(std::shared_ptr<Socket> socket);
  void writeQueued();
  void complete(const asio::error_code& ec);

  std::shared_ptr<Socket> socket_;
  Notifier progress_;
  std::vector<std::shared_ptr<Pending>> queue_;
  // The writes on the socket now and their buffers. Only one socket write
  // is in progress at a time, so these are kept and reused rather than
  // allocated for every batch.
  std::vector<std::shared_ptr<Pending>> batch_;
  std::vector<asio::const_buffer> buffers_;
  bool open_ = false;
  bool writing_ = false;
  std::optional<TransportError> failure_;
};

}  // namespace glidemate
