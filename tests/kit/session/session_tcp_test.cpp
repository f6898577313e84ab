// The header under test comes first: it brings in Asio, whose allocator
// choice must match the separately compiled Asio.
#include "kit/session/session.hpp"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kit/transport/stream_transport.hpp"
#include "tests/kit/session/fake_pairing_provider.hpp"
#include "tests/kit/session/tapped_transport.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::FakePairingProvider;
using testing::TappedTransport;
using testing::runUntil;
using ::testing::UnorderedElementsAre;

struct Received {
  std::vector<Message> messages;
  bool finished = false;
};

asio::awaitable<void> handshakeInto(std::shared_ptr<Session> session, std::optional<PeerInfo>* peer, bool* done) {
  try {
    *peer = co_await session->performHandshake();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "handshake failed: " << e.what();
  }
  *done = true;
}

asio::awaitable<void> collect(AsyncStream<Message> stream, Received* into) {
  while (auto message = co_await stream.next()) into->messages.push_back(std::move(*message));
  into->finished = true;
}

asio::awaitable<void> sendEach(std::shared_ptr<Session> session, std::vector<Message> messages, Channel channel,
                               bool* done) {
  for (const Message& message : messages) {
    const Message copy = message;
    co_await session->send(copy, channel);
  }
  *done = true;
}

Message pointer(float dx) { return Message::PointerMove{dx, -dx}; }
Message text(std::string value) { return Message::Text{std::move(value)}; }

enum class Mode { storedKey, pairing };

// A phone session on StreamTransport::connect and a host session on the
// connection its acceptor took, over 127.0.0.1. Both transports are tapped
// to count the datagrams that really arrive.
class SessionOverTcpTest : public ::testing::TestWithParam<Mode> {
 protected:
  void connectAndHandshake() {
    if (GetParam() == Mode::storedKey) {
      phoneProvider->keys.emplace("host-1", SymmetricKey(Bytes(32, 0x5a)));
      hostProvider->keys.emplace("phone-1", SymmetricKey(Bytes(32, 0x5a)));
    } else {
      phoneProvider->code = PairingCode::fromValue(482913);
      hostProvider->code = PairingCode::fromValue(482913);
    }
    phoneTap = TappedTransport::wrap(io.get_executor(),
                                     StreamTransport::connect(io.get_executor(), "127.0.0.1",
                                                              acceptor.local_endpoint().port()));
    phone = Session::make(io.get_executor(), phoneTap, Session::Role::client, {"phone-1", "Phone"}, phoneProvider,
                          std::string("host-1"));
    bool phoneDone = false;
    bool hostDone = false;
    asio::co_spawn(io, handshakeInto(phone, &hostPeer, &phoneDone), asio::detached);

    asio::ip::tcp::socket accepted(io);
    bool acceptedDone = false;
    acceptor.async_accept(accepted, [&](asio::error_code ec) {
      EXPECT_FALSE(ec);
      acceptedDone = true;
    });
    ASSERT_TRUE(runUntil(io, [&] { return acceptedDone; }));
    hostTap = TappedTransport::wrap(io.get_executor(), StreamTransport::make(std::move(accepted), TransportKind::lan));
    host = Session::make(io.get_executor(), hostTap, Session::Role::host, {"host-1", "Desk"}, hostProvider);
    asio::co_spawn(io, handshakeInto(host, &phonePeer, &hostDone), asio::detached);
    ASSERT_TRUE(runUntil(io, [&] { return phoneDone && hostDone; }));
    ASSERT_TRUE(hostPeer && phonePeer);
  }

  void send(const std::shared_ptr<Session>& from, std::vector<Message> messages, Channel channel) {
    bool done = false;
    asio::co_spawn(io, sendEach(from, std::move(messages), channel, &done), asio::detached);
    ASSERT_TRUE(runUntil(io, [&] { return done; }));
  }

  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  std::shared_ptr<FakePairingProvider> phoneProvider = std::make_shared<FakePairingProvider>();
  std::shared_ptr<FakePairingProvider> hostProvider = std::make_shared<FakePairingProvider>();
  std::shared_ptr<TappedTransport> phoneTap;
  std::shared_ptr<TappedTransport> hostTap;
  std::shared_ptr<Session> phone;
  std::shared_ptr<Session> host;
  std::optional<PeerInfo> hostPeer;
  std::optional<PeerInfo> phonePeer;
};

TEST_P(SessionOverTcpTest, HandshakesThenCarriesMessagesBothWaysOnBothChannels) {
  connectAndHandshake();
  EXPECT_EQ(hostPeer, (PeerInfo{"host-1", "Desk"}));
  EXPECT_EQ(phonePeer, (PeerInfo{"phone-1", "Phone"}));
  if (GetParam() == Mode::pairing) {
    ASSERT_TRUE(phoneProvider->pairedKey && hostProvider->pairedKey);
    EXPECT_TRUE(*phoneProvider->pairedKey == *hostProvider->pairedKey);
  }
  // The phone learnt the host's datagram port and opened its flow.
  ASSERT_TRUE(phone->transport()->hasUnreliableChannel());

  Received atHost;
  Received atPhone;
  asio::co_spawn(io, collect(host->messages(), &atHost), asio::detached);
  asio::co_spawn(io, collect(phone->messages(), &atPhone), asio::detached);

  send(phone, {pointer(1), pointer(2), pointer(3)}, Channel::unreliable);
  send(phone, {text("typed")}, Channel::reliable);
  ASSERT_TRUE(runUntil(io, [&] { return atHost.messages.size() == 4; }));
  // Datagrams and the stream race each other; each arrives whole, once.
  EXPECT_THAT(atHost.messages, UnorderedElementsAre(pointer(1), pointer(2), pointer(3), text("typed")));
  EXPECT_EQ(hostTap->receivedDatagrams, 3U);

  // The phone's datagrams gave the host its flow back to the phone.
  ASSERT_TRUE(host->transport()->hasUnreliableChannel());
  send(host, {pointer(9)}, Channel::unreliable);
  send(host, {text("status")}, Channel::reliable);
  ASSERT_TRUE(runUntil(io, [&] { return atPhone.messages.size() == 2; }));
  EXPECT_THAT(atPhone.messages, UnorderedElementsAre(pointer(9), text("status")));
  EXPECT_EQ(phoneTap->receivedDatagrams, 1U);

  phone->close();
  ASSERT_TRUE(runUntil(io, [&] { return atHost.finished && atPhone.finished; }));
}

// Anyone on the phone's address can send to the host's datagram port from
// another port: a replayed datagram of the phone's (which opens, but repeats
// a sequence) or junk must not move where the host's datagrams go.
TEST_P(SessionOverTcpTest, OnlyTheSessionsOwnDatagramsChooseWhereDatagramsGo) {
  connectAndHandshake();
  Received atHost;
  Received atPhone;
  asio::co_spawn(io, collect(host->messages(), &atHost), asio::detached);
  asio::co_spawn(io, collect(phone->messages(), &atPhone), asio::detached);
  send(phone, {pointer(1)}, Channel::unreliable);
  ASSERT_TRUE(runUntil(io, [&] { return atHost.messages.size() == 1; }));
  ASSERT_TRUE(host->transport()->hasUnreliableChannel());

  const auto captured = std::find_if(phoneTap->sent.begin(), phoneTap->sent.end(), [](const auto& o) {
    return o.channel == Channel::unreliable;
  });
  ASSERT_NE(captured, phoneTap->sent.end());
  // Asked again, the host's transport tells the port it already has.
  const auto hostPort = glidemate::testing::runAwaitable(io, host->transport()->prepareDatagramChannel());
  ASSERT_TRUE(hostPort);
  asio::ip::udp::socket intruder(io, asio::ip::udp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  const asio::ip::udp::endpoint target(asio::ip::make_address("127.0.0.1"), *hostPort);
  intruder.send_to(asio::buffer(captured->bytes), target);
  intruder.send_to(asio::buffer(Bytes{0, 5, 1, 9, 9, 9, 9, 9}), target);
  ASSERT_TRUE(runUntil(io, [&] { return hostTap->receivedDatagrams == 3; }));

  send(host, {pointer(5)}, Channel::unreliable);
  ASSERT_TRUE(runUntil(io, [&] { return atPhone.messages.size() == 1; }));
  EXPECT_EQ(phoneTap->receivedDatagrams, 1U);
  EXPECT_EQ(intruder.available(), 0U);
  EXPECT_EQ(atHost.messages.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(BothModes, SessionOverTcpTest, ::testing::Values(Mode::storedKey, Mode::pairing),
                         [](const auto& param) { return param.param == Mode::storedKey ? "StoredKey" : "Pairing"; });

}  // namespace
}  // namespace glidemate
