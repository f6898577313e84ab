#include "kit/transport/usbmux/usbmux_client.hpp"

#include <asio/redirect_error.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <cstdlib>
#include <optional>

#include "kit/transport/transport_error.hpp"
#include "kit/transport/usbmux/usbmux_error.hpp"
#include "kit/transport/usbmux/usbmux_message.hpp"
#include "kit/transport/usbmux/usbmux_reply_deadline.hpp"
#include "kit/transport/usbmux/usbmux_stream.hpp"

namespace glidemate {
namespace {

constexpr std::uint32_t listenTag = 1;
constexpr std::uint32_t connectTag = 2;

asio::awaitable<void> throwIfCancelled() {
  asio::cancellation_state cancellation = co_await asio::this_coro::cancellation_state;
  if (cancellation.cancelled() != asio::cancellation_type::none) {
    throw asio::system_error(asio::error::operation_aborted);
  }
}

// Connects `socket` to the daemon; the error says why not. A path too long
// for a socket address is an error like any other.
asio::awaitable<asio::error_code> connectToDaemon(USBMuxClient::Socket& socket, const std::string& path) {
  asio::error_code ec;
  asio::local::stream_protocol::endpoint endpoint;
  try {
    endpoint = asio::local::stream_protocol::endpoint(path);
  } catch (const asio::system_error& e) {
    co_return e.code();
  }
  co_await socket.async_connect(endpoint, asio::redirect_error(asio::use_awaitable, ec));
  co_return ec;
}

// One packet from the daemon, parsed; nothing when its payload does not
// parse.
asio::awaitable<std::optional<USBMuxResponse>> receiveResponse(USBMuxStream& stream) {
  const USBMuxHeader header = co_await stream.receiveHeader();
  const Bytes payload = co_await stream.receivePayload(header);
  co_return USBMuxMessage::parse(payload);
}

// What a notice means to the owner: phones the daemon reaches over the
// network, and notices of other kinds, mean nothing.
std::optional<USBMuxClient::Event> noticeEvent(const USBMuxResponse& response) {
  if (const auto* attached = std::get_if<USBMuxResponse::Attached>(&response.value)) {
    if (attached->device.isOverCable()) {
      return USBMuxClient::Attached{attached->device};
    }
  } else if (const auto* detached = std::get_if<USBMuxResponse::Detached>(&response.value)) {
    return USBMuxClient::Detached{detached->deviceId};
  }
  return std::nullopt;
}

// Built outside the coroutine: g++ 12 misreads a variant made in a
// coroutine frame as used uninitialised.
[[gnu::noinline]] USBMuxClient::Event lostConnection(bool daemonFound) {
  return USBMuxClient::Disconnected{daemonFound};
}

bool isSuccess(const std::optional<USBMuxResponse>& response) {
  return response && response->value == USBMuxResponse::Case(USBMuxResponse::Result{0});
}

}  // namespace

std::string USBMuxClient::socketPath() {
  const char* configured = std::getenv("USBMUXD_SOCKET_ADDRESS");
  std::string_view path = configured != nullptr ? configured : "";
  if (path.starts_with("UNIX:")) {
    path.remove_prefix(5);
  }
  return path.empty() ? std::string(defaultSocketPath) : std::string(path);
}

std::shared_ptr<USBMuxClient> USBMuxClient::make(const asio::any_io_executor& executor, std::string socketPath,
                                                 Duration replyTimeout) {
  return std::shared_ptr<USBMuxClient>(new USBMuxClient(executor, std::move(socketPath), replyTimeout));
}

USBMuxClient::USBMuxClient(const asio::any_io_executor& executor, std::string socketPath, Duration replyTimeout)
    : executor_(executor),
      socketPath_(std::move(socketPath)),
      replyTimeout_(replyTimeout),
      events_(AsyncStream<Event>::make(executor)) {}

USBMuxClient::~USBMuxClient() { stop(); }

void USBMuxClient::start() {
  if (connection_) {
    return;
  }
  connection_ = std::make_shared<Socket>(executor_);
  notices_ = Task(executor_, listenForNotices(weak_from_this(), connection_, socketPath_, replyTimeout_));
}

void USBMuxClient::stop() {
  if (!connection_) {
    return;
  }
  auto connection = std::move(connection_);
  connection_.reset();
  notices_.cancel();
  asio::error_code ignored;
  connection->close(ignored);
}

std::shared_ptr<USBMuxClient> USBMuxClient::owner(const std::weak_ptr<USBMuxClient>& weak,
                                                  const std::shared_ptr<Socket>& socket) {
  auto self = weak.lock();
  if (!self || self->connection_ != socket) {
    return nullptr;
  }
  return self;
}

asio::awaitable<void> USBMuxClient::listenForNotices(std::weak_ptr<USBMuxClient> weak,
                                                     std::shared_ptr<Socket> socket, std::string socketPath,
                                                     Duration replyTimeout) {
  bool daemonFound = true;
  try {
    co_await readNotices(weak, socket, std::move(socketPath), replyTimeout, daemonFound);
  } catch (const std::exception&) {
    // Every way the connection can end is the same loss to the owner;
    // stop() is told apart below because it forgets the connection first.
  }
  if (auto self = owner(weak, socket)) {
    self->events_.second.yield(lostConnection(daemonFound));
  }
}

asio::awaitable<void> USBMuxClient::readNotices(std::weak_ptr<USBMuxClient> weak, std::shared_ptr<Socket> socket,
                                                std::string socketPath, Duration replyTimeout, bool& daemonFound) {
  if (co_await connectToDaemon(*socket, socketPath)) {
    daemonFound = false;
    co_return;
  }
  USBMuxStream stream(socket);
  co_await stream.send(USBMuxMessage::listen(listenTag));
  {
    USBMuxReplyDeadline deadline(socket, replyTimeout);
    auto reply = co_await receiveResponse(stream);
    if (deadline.expired() || !isSuccess(reply)) {
      co_return;
    }
  }
  for (;;) {
    const USBMuxHeader header = co_await stream.receiveHeader();
    if (header.payloadLength() == 0) {
      continue;
    }
    const Bytes payload = co_await stream.receivePayload(header);
    const auto response = USBMuxMessage::parse(payload);
    if (!response) {
      continue;
    }
    if (auto event = noticeEvent(*response)) {
      auto self = owner(weak, socket);
      if (!self) {
        co_return;
      }
      self->events_.second.yield(std::move(*event));
    }
  }
}

asio::awaitable<USBMuxClient::Socket> USBMuxClient::openTunnel(std::uint32_t deviceId, std::uint16_t port) const {
  // Only values: the client may be gone by the time the tunnel opens.
  return openTunnel(socketPath_, deviceId, port, replyTimeout_);
}

asio::awaitable<USBMuxClient::Socket> USBMuxClient::openTunnel(std::string socketPath, std::uint32_t deviceId,
                                                               std::uint16_t port, Duration replyTimeout) {
  auto executor = co_await asio::this_coro::executor;
  auto socket = std::make_shared<Socket>(executor);
  USBMuxReplyDeadline deadline(socket, replyTimeout);
  const asio::error_code connectError = co_await connectToDaemon(*socket, socketPath);
  co_await throwIfCancelled();
  if (deadline.expired()) {
    throw USBMuxError::connectFailed();
  }
  if (connectError) {
    throw USBMuxError::daemonUnavailable();
  }

  USBMuxStream stream(socket);
  std::optional<USBMuxResponse> reply;
  try {
    co_await stream.send(USBMuxMessage::connect(deviceId, port, connectTag));
    reply = co_await receiveResponse(stream);
  } catch (const USBMuxError& e) {
    if (e == USBMuxError::daemonUnavailable()) {
      throw;
    }
  } catch (const TransportError&) {
    // The daemon hung up or the read failed: no answer.
  } catch (const asio::system_error&) {
    // Closed under the read by the deadline, or the caller was cancelled
    // (checked next).
  }
  co_await throwIfCancelled();
  if (!deadline.expired() && isSuccess(reply)) {
    co_return std::move(*socket);
  }
  asio::error_code ignored;
  socket->close(ignored);
  if (!deadline.expired() && reply) {
    if (const auto* result = std::get_if<USBMuxResponse::Result>(&reply->value)) {
      throw USBMuxError::refused(result->code);
    }
  }
  throw USBMuxError::connectFailed();
}

}  // namespace glidemate
