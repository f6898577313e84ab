#include "kit/transport/stream_transport.hpp"

#include <asio/buffer.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <vector>

#include "kit/transport/host_text.hpp"
#include "kit/transport/tcp_connect.hpp"

namespace glidemate {
namespace {

// The most a single receive asks for.
constexpr std::size_t maximumReceiveSize = 65536;

std::optional<asio::ip::address> peerAddress(const asio::ip::tcp::socket& socket) {
  asio::error_code ec;
  auto endpoint = socket.remote_endpoint(ec);
  if (ec) {
    return std::nullopt;
  }
  return endpoint.address();
}

}  // namespace

std::shared_ptr<StreamTransport> StreamTransport::make(asio::ip::tcp::socket connection, TransportKind kind) {
  asio::error_code ignored;
  connection.set_option(asio::ip::tcp::no_delay(parameters().noDelay), ignored);
  auto peer = peerAddress(connection);
  auto executor = connection.get_executor();
  std::shared_ptr<StreamTransport> transport(new StreamTransport(
      executor, kind, Socket(std::move(connection)), AsyncStream<TransportEvent>::make(executor)));
  transport->peer_ = peer;
  return transport;
}

std::shared_ptr<StreamTransport> StreamTransport::make(asio::local::stream_protocol::socket connection,
                                                       TransportKind kind) {
  auto executor = connection.get_executor();
  return std::shared_ptr<StreamTransport>(new StreamTransport(
      executor, kind, Socket(std::move(connection)), AsyncStream<TransportEvent>::make(executor)));
}

std::shared_ptr<StreamTransport> StreamTransport::connect(const asio::any_io_executor& executor, std::string host,
                                                          std::uint16_t port, TcpParameters parameters) {
  std::shared_ptr<StreamTransport> transport(new StreamTransport(
      executor, TransportKind::lan, Socket(executor), AsyncStream<TransportEvent>::make(executor)));
  transport->target_ = Target{std::move(host), port};
  transport->parameters_ = parameters;
  return transport;
}

StreamTransport::StreamTransport(const asio::any_io_executor& executor, TransportKind kind, Socket socket,
                                 EventStream events)
    : executor_(executor),
      kind_(kind),
      socket_(std::make_shared<Socket>(std::move(socket))),
      writer_(StreamWriter::make(socket_)),
      events_(std::move(events.first)),
      producer_(std::move(events.second)) {}

StreamTransport::~StreamTransport() {
  // Ends every operation still pending on the socket, including a write
  // that keeps the writer (and so the socket) alive.
  asio::error_code ignored;
  socket_->close(ignored);
}

bool StreamTransport::hasUnreliableChannel() const {
  return supportsDatagrams() && datagrams_ && datagrams_->hasFlow();
}

void StreamTransport::start() {
  if (state_ != State::created) {
    return;
  }
  if (target_) {
    state_ = State::connecting;
  } else {
    becomeReady();
  }
  connection_ = Task(executor_, run(weak_from_this(), socket_, target_, parameters_));
}

asio::awaitable<void> StreamTransport::run(std::weak_ptr<StreamTransport> weak, std::shared_ptr<Socket> socket,
                                           std::optional<Target> target, TcpParameters parameters) {
  if (target) {
    std::optional<asio::ip::tcp::socket> connected;
    std::optional<TransportError> failure;
    try {
      connected.emplace(co_await connectTcp(target->host, target->port, parameters));
    } catch (const TransportError& e) {
      failure = e;
    }
    auto self = weak.lock();
    if (!self || self->state_ == State::closed) {
      co_return;
    }
    if (failure) {
      self->finish(failure);
      co_return;
    }
    self->adopt(std::move(*connected));
  }

  std::vector<std::uint8_t> buffer(maximumReceiveSize);
  for (;;) {
    asio::error_code ec;
    const std::size_t size =
        co_await socket->async_read_some(asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
    // Held only between reads: a dropped transport is not kept alive by its
    // own loop.
    auto self = weak.lock();
    if (!self || self->state_ == State::closed) {
      co_return;
    }
    if (size > 0) {
      self->producer_.yield(TransportEvent::Data{
          Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size)), Channel::reliable});
    }
    if (ec == asio::error::eof) {
      self->finish(std::nullopt);
      co_return;
    }
    if (ec) {
      self->finish(TransportError::underlying(ec.message()));
      co_return;
    }
  }
}

void StreamTransport::adopt(asio::ip::tcp::socket connected) {
  peer_ = peerAddress(connected);
  *socket_ = Socket(std::move(connected));
  becomeReady();
}

void StreamTransport::becomeReady() {
  state_ = State::ready;
  producer_.yield(TransportEvent::Ready{});
  writer_->open();
}

void StreamTransport::finish(std::optional<TransportError> error) {
  if (state_ == State::closed) {
    return;
  }
  state_ = State::closed;
  writer_->fail(error.value_or(TransportError::closed()));
  datagrams_.reset();
  connection_.cancel();
  asio::error_code ignored;
  socket_->close(ignored);
  producer_.yield(TransportEvent::Closed{std::move(error)});
  producer_.finish();
}

asio::awaitable<void> StreamTransport::send(Bytes data, Channel channel) {
  auto self = shared_from_this();
  if (state_ == State::created) {
    throw TransportError::notReady();
  }
  if (channel == Channel::unreliable && hasUnreliableChannel()) {
    std::optional<TransportError> failure;
    try {
      co_await datagrams_->send(std::move(data));
    } catch (const TransportError& e) {
      failure = e;
    }
    if (failure) {
      // Closing the transport mid-send closes the datagram socket too.
      throw state_ == State::closed ? TransportError::closed() : *failure;
    }
    co_return;
  }
  co_await writer_->write(std::move(data));
}

void StreamTransport::close() { finish(std::nullopt); }

asio::awaitable<std::optional<std::uint16_t>> StreamTransport::prepareDatagramChannel() {
  if (!supportsDatagrams()) {
    co_return std::nullopt;
  }
  if (state_ == State::closed) {
    throw TransportError::closed();
  }
  if (!peer_) {
    throw TransportError::notReady();
  }
  // Binding is immediate: there is no listener state to wait for, so this
  // call cannot be left hanging by a listener that never becomes ready.
  if (!datagrams_) {
    datagrams_ = DatagramChannel::listen(executor_, *peer_, datagramReceiver());
  }
  co_return datagrams_->localPort();
}

asio::awaitable<void> StreamTransport::connectDatagramChannel(std::uint16_t toPort) {
  if (!supportsDatagrams()) {
    co_return;
  }
  if (state_ == State::closed) {
    throw TransportError::closed();
  }
  if (!peer_ || toPort == 0) {
    throw TransportError::notReady();
  }
  datagrams_ = DatagramChannel::connect(executor_, asio::ip::udp::endpoint(*peer_, toPort), datagramReceiver());
}

void StreamTransport::adoptDatagramSender(std::uint32_t sender) {
  if (datagrams_) {
    datagrams_->adopt(sender);
  }
}

std::optional<std::string> StreamTransport::remoteHost() const {
  if (!peer_) {
    return std::nullopt;
  }
  return hostText(*peer_);
}

DatagramChannel::Receiver StreamTransport::datagramReceiver() {
  return [weak = weak_from_this()](Bytes datagram, std::uint32_t sender) {
    auto self = weak.lock();
    if (self && self->state_ != State::closed) {
      self->producer_.yield(TransportEvent::Data{std::move(datagram), Channel::unreliable, sender});
    }
  };
}

}  // namespace glidemate
