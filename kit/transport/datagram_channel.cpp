#include "kit/transport/datagram_channel.hpp"

#include <asio/buffer.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <deque>
#include <optional>
#include <vector>

#include "kit/transport/transport_error.hpp"

namespace glidemate {

struct DatagramChannel::Core {
  Core(const asio::any_io_executor& executor, Receiver r) : socket(executor), receiver(std::move(r)) {}

  asio::ip::udp::socket socket;
  Receiver receiver;
  bool connected = false;
  struct Source {
    std::uint32_t number;
    asio::ip::udp::endpoint endpoint;
  };

  // Host side: the number of the datagram's source, numbering a new one.
  std::uint32_t sourceNumber(const asio::ip::udp::endpoint& endpoint);

  asio::ip::address peerHost;  // host side: the only host heard, as hostOf() gives it
  std::optional<asio::ip::udp::endpoint> flow;
  // Host side: the sources heard lately, newest last.
  std::deque<Source> sources;
  std::uint32_t nextSourceNumber = 1;
};

namespace {

// The largest UDP payload over IPv4 is 65507 bytes, so one datagram always
// fits.
constexpr std::size_t receiveBufferSize = 65536;
// A phone uses one source at a time; a few more cover a change of port
// racing a stranger's datagrams.
constexpr std::size_t rememberedSources = 8;

// Errors that an ICMP message about an earlier datagram leaves on a UDP
// socket. They concern that datagram, not this socket, so receiving goes on.
bool isTransient(const asio::error_code& ec) {
  return ec == asio::error::connection_refused || ec == asio::error::host_unreachable ||
         ec == asio::error::network_unreachable || ec == asio::error::connection_reset;
}

// The host an address names, in one form for comparing: an IPv4 peer heard
// on a dual-stack socket (an IPv4-mapped IPv6 address) as plain IPv4, and an
// IPv6 address without its scope, which names an interface, not a host.
// Compared as addresses rather than as text because it runs for every
// datagram received.
asio::ip::address hostOf(const asio::ip::address& address) {
  if (!address.is_v6()) {
    return address;
  }
  const asio::ip::address_v6 v6 = address.to_v6();
  if (v6.is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, v6);
  }
  return asio::ip::address_v6(v6.to_bytes());
}

[[noreturn]] void throwUnderlying(const asio::error_code& ec) { throw TransportError::underlying(ec.message()); }

}  // namespace

std::unique_ptr<DatagramChannel> DatagramChannel::listen(const asio::any_io_executor& executor,
                                                         const asio::ip::address& peer, Receiver receiver) {
  auto core = std::make_shared<Core>(executor, std::move(receiver));
  core->peerHost = hostOf(peer);
  const auto protocol = peer.is_v6() ? asio::ip::udp::v6() : asio::ip::udp::v4();
  asio::error_code ec;
  core->socket.open(protocol, ec);
  if (!ec && peer.is_v6()) {
    // A dual-stack socket also hears a peer that reached us over IPv4.
    core->socket.set_option(asio::ip::v6_only(false), ec);
  }
  if (!ec) {
    core->socket.bind(asio::ip::udp::endpoint(protocol, 0), ec);
  }
  if (ec) {
    throwUnderlying(ec);
  }
  return std::unique_ptr<DatagramChannel>(new DatagramChannel(executor, std::move(core)));
}

std::unique_ptr<DatagramChannel> DatagramChannel::connect(const asio::any_io_executor& executor,
                                                          const asio::ip::udp::endpoint& host, Receiver receiver) {
  auto core = std::make_shared<Core>(executor, std::move(receiver));
  core->connected = true;
  asio::error_code ec;
  core->socket.connect(host, ec);
  if (ec) {
    throwUnderlying(ec);
  }
  core->flow = host;
  return std::unique_ptr<DatagramChannel>(new DatagramChannel(executor, std::move(core)));
}

DatagramChannel::DatagramChannel(const asio::any_io_executor& executor, std::shared_ptr<Core> core)
    : core_(std::move(core)), receiving_(executor, receive(core_)) {}

DatagramChannel::~DatagramChannel() {
  receiving_.cancel();
  asio::error_code ignored;
  core_->socket.close(ignored);
}

std::uint16_t DatagramChannel::localPort() const {
  asio::error_code ec;
  return core_->socket.local_endpoint(ec).port();
}

bool DatagramChannel::hasFlow() const { return core_->flow.has_value(); }

std::uint32_t DatagramChannel::Core::sourceNumber(const asio::ip::udp::endpoint& endpoint) {
  for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
    if (it->endpoint == endpoint) {
      return it->number;
    }
  }
  if (sources.size() >= rememberedSources) {
    sources.pop_front();
  }
  sources.push_back(Source{nextSourceNumber++, endpoint});
  return sources.back().number;
}

void DatagramChannel::adopt(std::uint32_t source) {
  if (core_->connected) {
    return;
  }
  for (const Core::Source& s : core_->sources) {
    if (s.number == source) {
      core_->flow = s.endpoint;
      return;
    }
  }
}

asio::awaitable<void> DatagramChannel::send(Bytes datagram) {
  auto core = core_;
  if (!core->flow) {
    throw TransportError::notReady();
  }
  asio::error_code ec;
  if (core->connected) {
    co_await core->socket.async_send(asio::buffer(datagram), asio::redirect_error(asio::use_awaitable, ec));
  } else {
    co_await core->socket.async_send_to(asio::buffer(datagram), *core->flow,
                                        asio::redirect_error(asio::use_awaitable, ec));
  }
  if (ec) {
    throwUnderlying(ec);
  }
}

asio::awaitable<void> DatagramChannel::receive(std::shared_ptr<Core> core) {
  std::vector<std::uint8_t> buffer(receiveBufferSize);
  for (;;) {
    asio::ip::udp::endpoint source;
    asio::error_code ec;
    std::size_t size = 0;
    if (core->connected) {
      size = co_await core->socket.async_receive(asio::buffer(buffer), asio::redirect_error(asio::use_awaitable, ec));
    } else {
      size = co_await core->socket.async_receive_from(asio::buffer(buffer), source,
                                                      asio::redirect_error(asio::use_awaitable, ec));
    }
    if (ec) {
      if (isTransient(ec)) {
        continue;
      }
      // The socket is closed or broken: the channel falls silent and the
      // transport stays open.
      co_return;
    }
    std::uint32_t number = 0;
    if (!core->connected) {
      if (hostOf(source.address()) != core->peerHost) {
        continue;
      }
      number = core->sourceNumber(source);
    }
    if (size > 0) {
      core->receiver(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size)), number);
    }
  }
}

}  // namespace glidemate
