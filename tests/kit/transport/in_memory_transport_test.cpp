#include "kit/transport/in_memory_transport.hpp"

#include <asio/io_context.hpp>
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "tests/support/run_awaitable.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::runAwaitable;
using testing::thrown;
using Closed = TransportEvent::Closed;
using Data = TransportEvent::Data;
using Ready = TransportEvent::Ready;

class InMemoryTransportTest : public ::testing::Test {
 protected:
  void makePair(InMemoryTransport::Options options) {
    std::tie(a, b) = InMemoryTransport::makePair(context.get_executor(), options);
  }

  std::optional<TransportEvent> next(Transport& transport) {
    return runAwaitable(context, transport.events().next());
  }

  void send(Transport& transport, std::uint8_t byte, Channel channel) {
    runAwaitable(context, transport.send(Bytes{byte}, channel));
  }

  TransportEvent datagram(std::uint8_t byte) { return Data{Bytes{byte}, Channel::unreliable}; }

  asio::io_context context;
  std::shared_ptr<InMemoryTransport> a;
  std::shared_ptr<InMemoryTransport> b;
};

TEST_F(InMemoryTransportTest, CarriesBytesBothWaysAndClosesBothEndsOnce) {
  makePair({});
  a->start();
  send(*a, 1, Channel::reliable);  // before b has started: waits for it
  b->start();
  send(*b, 2, Channel::reliable);

  EXPECT_EQ(next(*b), TransportEvent(Ready{}));
  EXPECT_EQ(next(*b), TransportEvent(Data{Bytes{1}, Channel::reliable}));
  EXPECT_EQ(next(*a), TransportEvent(Ready{}));
  EXPECT_EQ(next(*a), TransportEvent(Data{Bytes{2}, Channel::reliable}));

  a->close();
  a->close();
  b->close();
  for (auto* end : {a.get(), b.get()}) {
    EXPECT_EQ(next(*end), TransportEvent(Closed{}));
    EXPECT_EQ(next(*end), std::nullopt);
  }
  EXPECT_EQ(thrown<TransportError>([&] { send(*b, 3, Channel::reliable); }), TransportError::closed());
}

TEST_F(InMemoryTransportTest, WithoutADatagramChannelUnreliableSendsTravelReliably) {
  makePair({.kind = TransportKind::usb});
  a->start();
  b->start();
  EXPECT_EQ(a->kind(), TransportKind::usb);
  EXPECT_FALSE(a->hasUnreliableChannel());
  send(*a, 7, Channel::unreliable);
  next(*b);
  EXPECT_EQ(next(*b), TransportEvent(Data{Bytes{7}, Channel::reliable}));
}

TEST_F(InMemoryTransportTest, TheDatagramChannelLosesAndReordersOnRequest) {
  makePair({.unreliableChannel = true});
  a->start();
  b->start();
  ASSERT_EQ(next(*b), TransportEvent(Ready{}));
  EXPECT_TRUE(a->hasUnreliableChannel());

  a->dropNextDatagrams(2);
  for (std::uint8_t i = 1; i <= 3; ++i) {
    send(*a, i, Channel::unreliable);
  }
  a->holdDatagrams();
  for (std::uint8_t i = 4; i <= 6; ++i) {
    send(*a, i, Channel::unreliable);
  }
  send(*a, 9, Channel::reliable);  // holding affects datagrams only
  a->releaseHeldDatagrams(InMemoryTransport::Release::reversed);
  send(*a, 7, Channel::unreliable);

  std::vector<TransportEvent> expected{datagram(3), TransportEvent(Data{Bytes{9}, Channel::reliable}),
                                       datagram(6), datagram(5), datagram(4), datagram(7)};
  for (const auto& event : expected) {
    EXPECT_EQ(next(*b), event);
  }
}

TEST_F(InMemoryTransportTest, DroppingAnEndHangsUpOnTheOther) {
  makePair({});
  a->start();
  b->start();
  send(*a, 1, Channel::reliable);
  a.reset();
  EXPECT_EQ(next(*b), TransportEvent(Ready{}));
  EXPECT_EQ(next(*b), TransportEvent(Data{Bytes{1}, Channel::reliable}));
  EXPECT_EQ(next(*b), TransportEvent(Closed{}));
  EXPECT_EQ(next(*b), std::nullopt);
}

}  // namespace
}  // namespace glidemate
