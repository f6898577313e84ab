#include "kit/transport/stream_writer.hpp"

#include <asio/write.hpp>
#include <span>

namespace glidemate {

std::shared_ptr<StreamWriter> StreamWriter::make(std::shared_ptr<Socket> socket) {
  return std::shared_ptr<StreamWriter>(new StreamWriter(std::move(socket)));
}

StreamWriter::StreamWriter(std::shared_ptr<Socket> socket)
    : socket_(std::move(socket)), progress_(socket_->get_executor()) {}

asio::awaitable<void> StreamWriter::write(Bytes data) {
  auto self = shared_from_this();
  if (failure_) {
    throw *failure_;
  }
  auto pending = std::make_shared<Pending>();
  pending->data = std::move(data);
  queue_.push_back(pending);
  writeQueued();
  while (!pending->done) {
    co_await progress_.wait();
  }
  if (pending->error) {
    throw *pending->error;
  }
}

void StreamWriter::open() {
  open_ = true;
  writeQueued();
}

void StreamWriter::fail(const TransportError& reason) {
  if (failure_) {
    return;
  }
  failure_ = reason;
  for (const auto& pending : queue_) {
    pending->done = true;
    pending->error = reason;
  }
  queue_.clear();
  progress_.notifyAll();
}

void StreamWriter::writeQueued() {
  if (!open_ || writing_ || failure_ || queue_.empty()) {
    return;
  }
  // Everything queued goes out in one gathered write, in order. The batch
  // was emptied when the last write completed.
  writing_ = true;
  batch_.swap(queue_);
  buffers_.clear();
  for (const auto& pending : batch_) {
    buffers_.push_back(asio::buffer(pending->data));
  }
  // The write sees the buffers through a view: they stay in place, unchanged,
  // until it completes.
  asio::async_write(*socket_, std::span<const asio::const_buffer>(buffers_),
                    [self = shared_from_this()](asio::error_code ec, std::size_t) { self->complete(ec); });
}

void StreamWriter::complete(const asio::error_code& ec) {
  writing_ = false;
  for (const auto& pending : batch_) {
    pending->done = true;
    if (ec) {
      // A write cut short by fail() reports why the stream ended rather than
      // the socket's "operation cancelled".
      pending->error = failure_ ? *failure_ : TransportError::underlying(ec.message());
    }
  }
  batch_.clear();
  progress_.notifyAll();
  writeQueued();
}

}  // namespace glidemate
