#include "kit/transport/stream_transport.hpp"

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/local/connect_pair.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "kit/transport/host_text.hpp"
#include "kit/wire/record_framer.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::driveUntil;
using testing::runAwaitable;
using testing::thrown;
using Closed = TransportEvent::Closed;
using Data = TransportEvent::Data;
using Ready = TransportEvent::Ready;

const asio::ip::address loopback = asio::ip::make_address("127.0.0.1");
const asio::ip::address otherLoopback = asio::ip::make_address("127.0.0.2");

Bytes record(std::uint8_t fill, std::size_t bodySize) {
  return RecordFramer::encode(RecordKind::encrypted, Bytes(bodySize, fill));
}

class StreamTransportTest : public ::testing::Test {
 protected:
  // A stranger on 127.0.0.2 and the TCP peer's host each send a datagram to
  // the host's channel: only the peer's arrives, and once adopted the reply
  // goes back to it. Loopback delivers in order, so the stranger's came
  // first and was dropped.
  void expectOnlyThePeersDatagramsAnswered() {
    const auto port = runAwaitable(context, host->prepareDatagramChannel());
    ASSERT_TRUE(port.has_value());
    const asio::ip::udp::endpoint target(loopback, *port);
    auto stranger = udpSocketOn(otherLoopback);
    stranger.send_to(asio::buffer(record(0x66, 4)), target);
    auto peer = udpSocketOn(loopback);
    const Bytes fromPeer = record(0x07, 4);
    peer.send_to(asio::buffer(fromPeer), target);
    host->adoptDatagramSender(expectDatagram(*host, fromPeer));
    const Bytes reply = record(0x08, 4);
    send(*host, reply, Channel::unreliable);
    EXPECT_EQ(receiveDatagram(peer), reply);
  }

  // The next event is this datagram; returns the number of its source.
  std::uint32_t expectDatagram(Transport& transport, const Bytes& bytes) {
    const auto event = next(transport);
    const auto* data = event ? std::get_if<Data>(&event->value) : nullptr;
    if (data == nullptr || data->channel != Channel::unreliable || data->bytes != bytes) {
      ADD_FAILURE() << "expected a datagram of " << bytes.size() << " bytes";
      return 0;
    }
    return data->sender;
  }

  // The phone connects through StreamTransport::connect; the host wraps the
  // connection its acceptor took, as the LAN listener does.
  void connectPair(TransportKind hostKind = TransportKind::lan) {
    phone = StreamTransport::connect(context.get_executor(), "127.0.0.1", acceptor.local_endpoint().port());
    phone->start();
    asio::ip::tcp::socket accepted(context);
    bool done = false;
    acceptor.async_accept(accepted, [&](asio::error_code ec) {
      EXPECT_FALSE(ec);
      done = true;
    });
    driveUntil(context, [&] { return done; });
    host = StreamTransport::make(std::move(accepted), hostKind);
    host->start();
    EXPECT_EQ(next(*phone), TransportEvent(Ready{}));
    EXPECT_EQ(next(*host), TransportEvent(Ready{}));
  }

  std::optional<TransportEvent> next(Transport& transport) {
    return runAwaitable(context, transport.events().next());
  }

  void send(Transport& transport, Bytes data, Channel channel) {
    runAwaitable(context, transport.send(std::move(data), channel));
  }

  // Collects reliable bytes until `size` have arrived; every piece must be
  // a receive of 1 to 65536 bytes.
  Bytes receiveReliable(Transport& transport, std::size_t size) {
    Bytes received;
    while (received.size() < size) {
      auto event = next(transport);
      if (!event) {
        ADD_FAILURE() << "the stream ended after " << received.size() << " bytes";
        break;
      }
      auto* data = std::get_if<Data>(&event->value);
      if (data == nullptr || data->channel != Channel::reliable) {
        ADD_FAILURE() << "expected reliable data";
        break;
      }
      EXPECT_GE(data->bytes.size(), 1u);
      EXPECT_LE(data->bytes.size(), 65536u);
      received.insert(received.end(), data->bytes.begin(), data->bytes.end());
    }
    return received;
  }

  Bytes receiveDatagram(asio::ip::udp::socket& socket) {
    Bytes buffer(70000);
    std::size_t size = 0;
    bool done = false;
    socket.async_receive(asio::buffer(buffer), [&](asio::error_code ec, std::size_t n) {
      EXPECT_FALSE(ec);
      size = n;
      done = true;
    });
    driveUntil(context, [&] { return done; });
    buffer.resize(size);
    return buffer;
  }

  asio::ip::udp::socket udpSocketOn(const asio::ip::address& address) {
    return asio::ip::udp::socket(context, asio::ip::udp::endpoint(address, 0));
  }

  asio::io_context context;
  asio::ip::tcp::acceptor acceptor{context, asio::ip::tcp::endpoint(loopback, 0)};
  std::shared_ptr<StreamTransport> phone;
  std::shared_ptr<StreamTransport> host;
};

TEST_F(StreamTransportTest, CarriesBytesBothWaysAndKnowsThePeersAddress) {
  connectPair();
  EXPECT_EQ(phone->remoteHost(), "127.0.0.1");
  EXPECT_EQ(host->remoteHost(), "127.0.0.1");

  const Bytes hello = record(0x11, 40);
  send(*phone, hello, Channel::reliable);
  EXPECT_EQ(receiveReliable(*host, hello.size()), hello);

  // More than one receive can hold, so it arrives in several pieces.
  Bytes bulk;
  for (std::uint8_t i = 0; i < 4; ++i) {
    const Bytes r = record(i, 60000);
    bulk.insert(bulk.end(), r.begin(), r.end());
  }
  send(*host, bulk, Channel::reliable);
  EXPECT_EQ(receiveReliable(*phone, bulk.size()), bulk);
}

TEST_F(StreamTransportTest, SendsIssuedTogetherGoOutWholeAndInOrder) {
  connectPair();
  // Together far more than the socket buffers hold, so the socket takes
  // them in many partial writes: sends that overlapped on the socket would
  // interleave their bytes.
  constexpr std::uint8_t sendCount = 100;
  Bytes expected;
  int completed = 0;
  for (std::uint8_t i = 0; i < sendCount; ++i) {
    const Bytes r = record(i, 65000);
    expected.insert(expected.end(), r.begin(), r.end());
    asio::co_spawn(context, phone->send(r, Channel::reliable), [&](std::exception_ptr e) {
      EXPECT_FALSE(e);
      ++completed;
    });
  }
  EXPECT_EQ(receiveReliable(*host, expected.size()), expected);
  driveUntil(context, [&] { return completed == sendCount; });
}

TEST_F(StreamTransportTest, ExactlyOneClosedEventAndItIsTheLast) {
  connectPair();
  const Bytes last = record(0x22, 10);
  send(*host, last, Channel::reliable);
  host->close();
  host->close();

  EXPECT_EQ(next(*host), TransportEvent(Closed{}));
  EXPECT_EQ(next(*host), std::nullopt);

  EXPECT_EQ(receiveReliable(*phone, last.size()), last);
  EXPECT_EQ(next(*phone), TransportEvent(Closed{}));
  phone->close();  // after the peer hung up: nothing more
  EXPECT_EQ(next(*phone), std::nullopt);

  EXPECT_EQ(thrown<TransportError>([&] { send(*host, last, Channel::reliable); }), TransportError::closed());
  EXPECT_EQ(thrown<TransportError>([&] { send(*phone, last, Channel::reliable); }), TransportError::closed());
}

TEST_F(StreamTransportTest, AConnectionResetClosesWithTheNetworksDescription) {
  phone = StreamTransport::connect(context.get_executor(), "127.0.0.1", acceptor.local_endpoint().port());
  phone->start();
  EXPECT_EQ(next(*phone), TransportEvent(Ready{}));
  asio::ip::tcp::socket raw = acceptor.accept();

  raw.set_option(asio::socket_base::linger(true, 0));
  raw.close();  // an abortive close: the phone's read fails
  auto event = next(*phone);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(*event, TransportEvent(Closed{TransportError::underlying(
                        asio::error_code(asio::error::connection_reset).message())}));
  EXPECT_EQ(next(*phone), std::nullopt);
}

TEST_F(StreamTransportTest, ConnectingGivesUpAfterTheConfiguredTimeOut) {
  // A listener whose one-place backlog is full drops further connection
  // requests, so the next attempt is never answered.
  asio::ip::tcp::acceptor full(context);
  full.open(asio::ip::tcp::v4());
  full.bind(asio::ip::tcp::endpoint(loopback, 0));
  full.listen(0);
  asio::ip::tcp::socket filler(context);
  filler.connect(full.local_endpoint());

  TcpParameters parameters;
  parameters.connectTimeout = std::chrono::milliseconds(50);
  phone = StreamTransport::connect(context.get_executor(), "127.0.0.1", full.local_endpoint().port(), parameters);
  phone->start();
  // A send waits for the connection and fails with it.
  std::optional<TransportError> sendError;
  asio::co_spawn(context, phone->send(record(1, 1), Channel::reliable), [&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const TransportError& error) {
      sendError = error;
    }
  });

  const auto timedOut = TransportError::underlying(asio::error_code(asio::error::timed_out).message());
  EXPECT_EQ(next(*phone), TransportEvent(Closed{timedOut}));
  EXPECT_EQ(next(*phone), std::nullopt);
  driveUntil(context, [&] { return sendError.has_value(); });
  EXPECT_EQ(sendError, timedOut);
  EXPECT_EQ(phone->remoteHost(), std::nullopt);
}

TEST_F(StreamTransportTest, DroppingATransportHangsUpOnThePeer) {
  connectPair();
  host.reset();
  EXPECT_EQ(next(*phone), TransportEvent(Closed{}));
}

TEST_F(StreamTransportTest, UnreliableRecordsTravelAsDatagramsOnceTheFlowExists) {
  connectPair();
  // No datagram channel yet: `unreliable` falls back to the stream.
  EXPECT_FALSE(phone->hasUnreliableChannel());
  const Bytes early = record(0x01, 8);
  send(*phone, early, Channel::unreliable);
  EXPECT_EQ(receiveReliable(*host, early.size()), early);

  const auto port = runAwaitable(context, host->prepareDatagramChannel());
  ASSERT_TRUE(port.has_value());
  EXPECT_EQ(runAwaitable(context, host->prepareDatagramChannel()), port);
  EXPECT_FALSE(host->hasUnreliableChannel());  // nobody has sent to it yet
  runAwaitable(context, phone->connectDatagramChannel(*port));
  EXPECT_TRUE(phone->hasUnreliableChannel());

  const Bytes move = record(0x02, 12);
  send(*phone, move, Channel::unreliable);
  const std::uint32_t phoneSource = expectDatagram(*host, move);
  // Only its owner, which can open the datagram, says it is the phone's.
  EXPECT_FALSE(host->hasUnreliableChannel());
  host->adoptDatagramSender(phoneSource);
  EXPECT_TRUE(host->hasUnreliableChannel());

  const Bytes pong = record(0x03, 12);
  send(*host, pong, Channel::unreliable);
  EXPECT_EQ(next(*phone), TransportEvent(Data{pong, Channel::unreliable}));

  // A later flow from the same host is heard under a number of its own but
  // answered only once adopted, with one plain datagram holding exactly
  // the record.
  auto later = udpSocketOn(loopback);
  const Bytes fromLater = record(0x04, 5);
  later.send_to(asio::buffer(fromLater), asio::ip::udp::endpoint(loopback, *port));
  const std::uint32_t laterSource = expectDatagram(*host, fromLater);
  EXPECT_NE(laterSource, phoneSource);
  const Bytes toPhone = record(0x06, 7);
  send(*host, toPhone, Channel::unreliable);
  EXPECT_EQ(next(*phone), TransportEvent(Data{toPhone, Channel::unreliable}));
  host->adoptDatagramSender(laterSource);
  const Bytes reply = record(0x05, 300);
  send(*host, reply, Channel::unreliable);
  EXPECT_EQ(receiveDatagram(later), reply);
}

TEST_F(StreamTransportTest, DatagramsFromAnotherHostThanTheTcpPeerAreIgnored) {
  connectPair();
  expectOnlyThePeersDatagramsAnswered();
}

// A host listening on a dual-stack socket sees an IPv4 phone as an
// IPv4-mapped IPv6 address, on the stream and on its datagrams alike; the
// phone's datagrams are answered and another IPv4 host's are still dropped.
TEST_F(StreamTransportTest, AnIpv4PeerOnADualStackListenerIsKnownByItsDatagrams) {
  asio::ip::tcp::acceptor dualStack(context, asio::ip::tcp::v6());
  dualStack.set_option(asio::ip::v6_only(false));
  dualStack.bind(asio::ip::tcp::endpoint(asio::ip::tcp::v6(), 0));
  dualStack.listen();
  phone = StreamTransport::connect(context.get_executor(), "127.0.0.1", dualStack.local_endpoint().port());
  phone->start();
  asio::ip::tcp::socket accepted(context);
  bool done = false;
  dualStack.async_accept(accepted, [&](asio::error_code ec) {
    EXPECT_FALSE(ec);
    done = true;
  });
  driveUntil(context, [&] { return done; });
  ASSERT_TRUE(accepted.remote_endpoint().address().to_v6().is_v4_mapped());
  host = StreamTransport::make(std::move(accepted), TransportKind::lan);
  host->start();
  EXPECT_EQ(next(*host), TransportEvent(Ready{}));

  expectOnlyThePeersDatagramsAnswered();
}

TEST_F(StreamTransportTest, DatagramsFromAStrangerAloneDoNotOpenTheChannel) {
  connectPair();
  const auto port = runAwaitable(context, host->prepareDatagramChannel());
  auto stranger = udpSocketOn(otherLoopback);
  stranger.send_to(asio::buffer(record(0x66, 4)), asio::ip::udp::endpoint(loopback, *port));
  // The phone's stream record is sent after the stranger's datagram, so it
  // is read after that datagram has been seen (and dropped).
  const Bytes marker = record(0x09, 4);
  send(*phone, marker, Channel::reliable);
  EXPECT_EQ(receiveReliable(*host, marker.size()), marker);
  context.poll();
  EXPECT_FALSE(host->hasUnreliableChannel());
}

TEST_F(StreamTransportTest, ACableTunnelHasNoDatagramChannel) {
  asio::local::stream_protocol::socket a(context);
  asio::local::stream_protocol::socket b(context);
  asio::local::connect_pair(a, b);
  host = StreamTransport::make(std::move(a), TransportKind::usb);
  phone = StreamTransport::make(std::move(b), TransportKind::usb);
  host->start();
  phone->start();
  EXPECT_EQ(next(*host), TransportEvent(Ready{}));
  EXPECT_EQ(next(*phone), TransportEvent(Ready{}));

  EXPECT_EQ(runAwaitable(context, host->prepareDatagramChannel()), std::nullopt);
  runAwaitable(context, phone->connectDatagramChannel(4242));
  EXPECT_FALSE(phone->hasUnreliableChannel());
  EXPECT_EQ(host->remoteHost(), std::nullopt);

  const Bytes move = record(0x0a, 6);
  send(*phone, move, Channel::unreliable);
  EXPECT_EQ(receiveReliable(*host, move.size()), move);
}

TEST_F(StreamTransportTest, MisuseIsRefusedWithAClearError) {
  connectPair();
  EXPECT_EQ(thrown<TransportError>([&] { runAwaitable(context, phone->connectDatagramChannel(0)); }),
            TransportError::notReady());

  auto unstarted = StreamTransport::connect(context.get_executor(), "127.0.0.1", 9);
  EXPECT_EQ(thrown<TransportError>([&] { send(*unstarted, record(1, 1), Channel::reliable); }),
            TransportError::notReady());
  EXPECT_EQ(thrown<TransportError>([&] { runAwaitable(context, unstarted->prepareDatagramChannel()); }),
            TransportError::notReady());

  host->close();
  EXPECT_EQ(thrown<TransportError>([&] { runAwaitable(context, host->prepareDatagramChannel()); }),
            TransportError::closed());
  EXPECT_EQ(thrown<TransportError>([&] { runAwaitable(context, host->connectDatagramChannel(4242)); }),
            TransportError::closed());
}

TEST(HostText, IsTheComparableTextualFormOfAnAddress) {
  struct Case {
    const char* address;
    const char* text;
  };
  for (const Case& c : {Case{"127.0.0.1", "127.0.0.1"}, Case{"::1", "::1"}, Case{"fe80::1%lo", "fe80::1"},
                        Case{"::ffff:10.0.0.8", "10.0.0.8"}}) {
    EXPECT_EQ(hostText(asio::ip::make_address(c.address)), c.text) << c.address;
  }
}

}  // namespace
}  // namespace glidemate
