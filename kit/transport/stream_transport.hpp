#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/generic/stream_protocol.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/local/stream_protocol.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "kit/runtime/async_stream.hpp"
#include "kit/runtime/task.hpp"
#include "kit/transport/datagram_channel.hpp"
#include "kit/transport/stream_writer.hpp"
#include "kit/transport/tcp_parameters.hpp"
#include "kit/transport/transport.hpp"

namespace glidemate {

// A transport over a stream socket: TCP for phones on the local network
// (kind `lan`, with an optional UDP datagram channel beside it) or a cable
// tunnel (kind `usb`, reliable channel only).
//
// The reliable channel is the raw byte stream; records are restored by the
// reader's RecordFramer. Each datagram carries exactly one record. The
// datagram channel is set up after the handshake: the host calls
// prepareDatagramChannel() and reports the port, the phone calls
// connectDatagramChannel(toPort). Until a datagram flow exists, sends on
// `unreliable` travel on the stream.
//
// Owned by std::shared_ptr; its loops hold it weakly, so dropping the last
// owner closes the sockets and stops them.
class StreamTransport final : public Transport, public std::enable_shared_from_this<StreamTransport> {
 public:
  // Wraps an accepted TCP connection.
  static std::shared_ptr<StreamTransport> make(asio::ip::tcp::socket connection, TransportKind kind);
  // Wraps a connected stream tunnel that has no network address (the cable
  // multiplexer's).
  static std::shared_ptr<StreamTransport> make(asio::local::stream_protocol::socket connection, TransportKind kind);
  // Phone side, kind `lan`: start() connects to `host` and `port`.
  static std::shared_ptr<StreamTransport> connect(const asio::any_io_executor& executor, std::string host,
                                                  std::uint16_t port, TcpParameters parameters = StreamTransport::parameters());

  // How connections are made: no-delay, 5-second connect time-out.
  static TcpParameters parameters() { return TcpParameters{}; }

  StreamTransport(const StreamTransport&) = delete;
  StreamTransport& operator=(const StreamTransport&) = delete;
  ~StreamTransport() override;

  TransportKind kind() const override { return kind_; }
  // Only a network transport has a datagram channel.
  bool supportsDatagrams() const { return kind_ == TransportKind::lan; }
  bool hasUnreliableChannel() const override;
  AsyncStream<TransportEvent>& events() override { return events_; }
  void start() override;
  // Throws TransportError::notReady before start(), the reason the
  // transport ended once it has (closed, or the connection's error), or
  // TransportError::underlying with the network's description.
  asio::awaitable<void> send(Bytes data, Channel channel) override;
  void close() override;
  // Binds a UDP socket on a free port and returns the port (the same one on
  // later calls). Throws TransportError::closed after close(),
  // TransportError::notReady while the peer's address is unknown.
  asio::awaitable<std::optional<std::uint16_t>> prepareDatagramChannel() override;
  // Throws TransportError::notReady for port 0 or while the peer's address
  // is unknown, TransportError::closed after close().
  asio::awaitable<void> connectDatagramChannel(std::uint16_t toPort) override;
  void adoptDatagramSender(std::uint32_t sender) override;
  std::optional<std::string> remoteHost() const override;

 private:
  using Socket = asio::generic::stream_protocol::socket;
  using EventStream = std::pair<AsyncStream<TransportEvent>, StreamProducer<TransportEvent>>;
  enum class State { created, connecting, ready, closed };
  struct Target {
    std::string host;
    std::uint16_t port;
  };

  StreamTransport(const asio::any_io_executor& executor, TransportKind kind, Socket socket, EventStream events);

  static asio::awaitable<void> run(std::weak_ptr<StreamTransport> weak, std::shared_ptr<Socket> socket,
                                   std::optional<Target> target, TcpParameters parameters);
  void adopt(asio::ip::tcp::socket connected);
  void becomeReady();
  void finish(std::optional<TransportError> error);
  DatagramChannel::Receiver datagramReceiver();

  asio::any_io_executor executor_;
  TransportKind kind_;
  std::optional<Target> target_;
  TcpParameters parameters_;
  std::shared_ptr<Socket> socket_;
  std::shared_ptr<StreamWriter> writer_;
  AsyncStream<TransportEvent> events_;
  StreamProducer<TransportEvent> producer_;
  State state_ = State::created;
  std::optional<asio::ip::address> peer_;
  std::unique_ptr<DatagramChannel> datagrams_;
  Task connection_;
};

}  // namespace glidemate
