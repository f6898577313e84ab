#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <filesystem>
#include <cctype>

#include "host/server/host_server.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/transport/in_memory_transport.hpp"
#include "phone/phone_pairing.hpp"
#include "tests/support/memory_keychain.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using testing::runUntil;

// An in-memory transport that says where it comes from, as a network one would.
class FromAddress final : public Transport {
 public:
  FromAddress(std::shared_ptr<Transport> inner, std::string address)
      : inner_(std::move(inner)), address_(std::move(address)) {}
  TransportKind kind() const override { return inner_->kind(); }
  bool hasUnreliableChannel() const override { return inner_->hasUnreliableChannel(); }
  AsyncStream<TransportEvent>& events() override { return inner_->events(); }
  void start() override { inner_->start(); }
  asio::awaitable<void> send(Bytes data, Channel channel) override {
    return inner_->send(std::move(data), channel);
  }
  void close() override { inner_->close(); }
  std::optional<std::string> remoteHost() const override { return address_; }

 private:
  std::shared_ptr<Transport> inner_;
  std::string address_;
};

class TempFile {
 public:
  TempFile() {
    char pattern[] = "/tmp/glidemate-settings-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~TempFile() { std::filesystem::remove_all(dir_); }
  std::filesystem::path path() const { return dir_ / "settings.json"; }

 private:
  std::filesystem::path dir_;
};

// A phone: its own key store, and the code it types read off the host.
struct Phone {
  Phone(std::string phoneId, std::string phoneName) : id(std::move(phoneId)), name(std::move(phoneName)) {}
  std::string id;
  std::string name;
  testing::MemoryKeychain keys;
  KeychainStore store{phone::PhonePairing::service, keys};
  std::optional<PairingCode> typed;  // when set, typed instead of the shown code
  bool mistypes = false;             // types the shown code plus one
};

class HostServerTest : public ::testing::Test {
 protected:
  asio::io_context io;
  testing::MemoryKeychain hostKeys;
  TempFile settingsFile;
  UserDefaults defaults{settingsFile.path()};
  NullLogger logger;
  std::shared_ptr<HostServer> server = makeServer();
  std::vector<std::string> activity;

  // Let every cancelled task finish on the context before the context goes:
  // a coroutine frame destroyed by the context's shutdown would otherwise
  // cancel timers whose service is already gone.
  void TearDown() override {
    server.reset();
    io.restart();
    io.poll();
  }

  std::shared_ptr<HostServer> makeServer() {
    auto s = HostServer::make(io.get_executor(), HostServer::Configuration{
                                                     .keys = hostKeys,
                                                     .defaults = defaults,
                                                     .logger = logger,
                                                     .hostName = "Desk",
                                                     .maxPendingHandshakesPerSource = 2,
                                                 });
    s->onActivity = [this](const HostServer::Activity& a) {
      if (auto* c = std::get_if<HostServer::PeerConnected>(&a)) activity.push_back("connected " + c->peer.id);
      if (auto* e = std::get_if<HostServer::PeerEnded>(&a)) activity.push_back("ended " + e->peer.id);
      if (auto* f = std::get_if<HostServer::HandshakeFailed>(&a)) activity.push_back("failed " + f->error);
    };
    return s;
  }

  struct Connection {
    std::shared_ptr<Session> session;
    std::optional<std::string> error;
    bool done = false;
  };

  // Connects `phone` to the server over a fresh in-memory pair and runs the
  // handshake to its end.
  std::shared_ptr<Connection> connect(Phone& phone, TransportKind kind = TransportKind::lan,
                                      std::string address = "10.0.0.2") {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {.kind = kind});
    server->accept(std::make_shared<FromAddress>(hostEnd, address));
    auto pairing = std::make_shared<phone::PhonePairing>(phone.store, [this, &phone](const PeerInfo&) {
      const auto shown = server->pairing.activeCode.get();
      if (phone.mistypes && shown) return PairingCode::fromValue((shown->value() + 1) % PairingCode::valueLimit);
      return phone.typed ? phone.typed : shown;
    });
    auto connection = std::make_shared<Connection>();
    connection->session = Session::make(io.get_executor(), phoneEnd, Session::Role::client,
                                        PeerInfo{phone.id, phone.name}, pairing);
    asio::co_spawn(io, [](std::shared_ptr<Connection> c) -> asio::awaitable<void> {
      try {
        co_await c->session->performHandshake();
      } catch (const HandshakeError& e) {
        const auto* reported = std::get_if<HandshakeError::PeerReported>(&e.which());
        c->error = reported != nullptr ? reported->reason : e.what();
      } catch (const std::exception& e) {
        c->error = e.what();
      }
      c->done = true;
    }(connection), asio::detached);
    EXPECT_TRUE(runUntil(io, [&] { return connection->done; }));
    return connection;
  }

  std::vector<std::string> peerIds() const {
    std::vector<std::string> ids;
    for (const auto& p : *server->peers) ids.push_back(p.id + "/" + std::string(rawValue(p.transport)));
    return ids;
  }
};

TEST_F(HostServerTest, PairsThenAuthenticatesAndListsThePhone) {
  Phone ann("ANN", "Ann's phone");
  auto first = connect(ann);
  ASSERT_FALSE(first->error) << *first->error;
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->size() == 1; }));
  EXPECT_EQ(peerIds(), std::vector<std::string>{"ANN/lan"});
  ASSERT_EQ(server->pairing.pairedDevices->size(), 1u);
  EXPECT_EQ(server->pairing.pairedDevices->front().name, "Ann's phone");

  first->session->close();
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->empty(); }));

  // The second time no code is needed: a wrong one would not be asked for.
  ann.typed = PairingCode::fromValue(1);
  auto second = connect(ann);
  EXPECT_FALSE(second->error);
  EXPECT_EQ(activity, (std::vector<std::string>{"connected ANN", "ended ANN", "connected ANN"}));
}

TEST_F(HostServerTest, PingIsAnsweredWithTheSameValue) {
  Phone ann("ANN", "Ann");
  auto c = connect(ann);
  ASSERT_FALSE(c->error);
  std::optional<Message> reply;
  asio::co_spawn(io, [](std::shared_ptr<Session> s, std::optional<Message>& out) -> asio::awaitable<void> {
    auto incoming = s->messages();
    Message ping = Message::Ping{123};
    co_await s->send(std::move(ping));
    // The greeting comes first.
    for (;;) {
      auto next = co_await incoming.next();
      if (next && std::holds_alternative<Message::Event>(next->value)) continue;
      out = std::move(next);
      break;
    }
  }(c->session, reply), asio::detached);
  ASSERT_TRUE(runUntil(io, [&] { return reply.has_value(); }));
  EXPECT_EQ(*reply, Message(Message::Pong{123}));
}

TEST_F(HostServerTest, FailedHandshakeIsNeverListed) {
  Phone mallory("MAL", "Mallory");
  ASSERT_TRUE(server->pairing.beginPairing("someone else", std::nullopt));
  auto c = connect(mallory);
  EXPECT_EQ(c->error, "pairing refused");
  EXPECT_TRUE(server->peers->empty());
  EXPECT_TRUE(server->liveSessions().empty());
  EXPECT_EQ(activity, std::vector<std::string>{"failed pairing refused"});
}

TEST_F(HostServerTest, WrongCodeIsRefusedAndCounted) {
  Phone ann("ANN", "Ann");
  ann.mistypes = true;
  auto c = connect(ann);
  EXPECT_EQ(c->error, "pairing code did not match");
  EXPECT_EQ(server->pairing.throttle().failures().size(), 1u);
  EXPECT_EQ(server->pairing.activeCode.get(), std::nullopt);
}

TEST_F(HostServerTest, SecondConnectionReplacesTheEntryAndTheLastEndRemovesIt) {
  Phone ann("ANN", "Ann");
  auto lan = connect(ann, TransportKind::lan);
  auto usb = connect(ann, TransportKind::usb);
  ASSERT_FALSE(lan->error);
  ASSERT_FALSE(usb->error);
  EXPECT_EQ(peerIds(), std::vector<std::string>{"ANN/usb"});
  EXPECT_EQ(server->liveSessions().size(), 2u);

  // The phone is still connected over the cable, so it stays listed.
  lan->session->close();
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().size() == 1; }));
  EXPECT_EQ(peerIds(), std::vector<std::string>{"ANN/usb"});
  usb->session->close();
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().empty(); }));
  EXPECT_TRUE(server->peers->empty());
}

TEST_F(HostServerTest, PausingClosesEverySessionAndRefusesUntilResumed) {
  Phone ann("ANN", "Ann");
  Phone bob("BOB", "Bob");
  auto a = connect(ann);
  auto b = connect(bob);
  ASSERT_EQ(server->liveSessions().size(), 2u);
  server->setPaused(true);
  ASSERT_TRUE(runUntil(io, [&] { return server->liveSessions().empty() && server->peers->empty(); }));
  EXPECT_EQ(connect(ann)->error, HostServer::pausedRefusal);
  server->setPaused(false);
  EXPECT_FALSE(connect(ann)->error);
}

TEST_F(HostServerTest, DisconnectedPhoneIsRefusedUntilAllowedOrForgotten) {
  Phone ann("ANN", "Ann");
  auto first = connect(ann);
  server->disconnect("ANN");
  ASSERT_TRUE(runUntil(io, [&] { return server->peers->empty(); }));
  EXPECT_EQ(connect(ann)->error, HostServer::disconnectedRefusal);
  server->allow("ANN");
  EXPECT_FALSE(connect(ann)->error);

  server->disconnect("ANN");
  server->forget("ANN");
  EXPECT_TRUE(server->pairing.pairedDevices->empty());
  // Forgotten: the old key no longer works; the phone pairs anew.
  ann.keys.items.clear();
  auto again = connect(ann);
  EXPECT_FALSE(again->error);
  EXPECT_EQ(server->pairing.pairedDevices->size(), 1u);
}

TEST_F(HostServerTest, HostIdIsMadeOnceAndKept) {
  const std::string id = server->hostId();
  // An upper-case version 4 UUID: 8-4-4-4-12 hex digits, version 4, variant 10xx.
  ASSERT_EQ(id.size(), 36u) << id;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    EXPECT_TRUE(dash ? id[i] == '-' : std::isxdigit(static_cast<unsigned char>(id[i])) && !std::islower(id[i]))
        << id;
  }
  EXPECT_EQ(id[14], '4') << id;
  EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos) << id;
  EXPECT_EQ(id, defaults.string("hostId"));
  server.reset();
  UserDefaults reread(settingsFile.path());
  EXPECT_EQ(reread.string("hostId"), id);
  server = makeServer();
  EXPECT_EQ(server->hostId(), id);
}

TEST_F(HostServerTest, StopEmptiesPeersAndGoesIdle) {
  server->start();
  ASSERT_TRUE(runUntil(io, [&] {
    return std::holds_alternative<LANListener::Listening>(server->listenerState.get());
  }));
  Phone ann("ANN", "Ann");
  auto c = connect(ann);
  ASSERT_EQ(server->peers->size(), 1u);
  server->stop();
  EXPECT_TRUE(server->peers->empty());
  EXPECT_EQ(server->listenerState.get(), LANListener::State(LANListener::Idle{}));
}

TEST_F(HostServerTest, UnfinishedHandshakesFromOneSourceAreCapped) {
  // Two handshakes that never finish use up this source's allowance.
  std::vector<std::shared_ptr<InMemoryTransport>> silent;
  for (int i = 0; i < 2; ++i) {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {});
    phoneEnd->start();
    server->accept(std::make_shared<FromAddress>(hostEnd, "10.6.6.6"));
    silent.push_back(phoneEnd);
  }
  io.poll();
  // A third from there is turned away at once; another address still pairs.
  auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {});
  std::vector<TransportEvent> events;
  asio::co_spawn(io, [](std::shared_ptr<InMemoryTransport> t, std::vector<TransportEvent>& out) -> asio::awaitable<void> {
    while (auto e = co_await t->events().next()) out.push_back(*e);
  }(phoneEnd, events), asio::detached);
  phoneEnd->start();
  server->accept(std::make_shared<FromAddress>(hostEnd, "10.6.6.6"));
  ASSERT_TRUE(runUntil(io, [&] {
    return !events.empty() && std::holds_alternative<TransportEvent::Closed>(events.back().value);
  }));
  Phone ann("ANN", "Ann");
  EXPECT_FALSE(connect(ann, TransportKind::lan, "10.0.0.7")->error);
}

}  // namespace
}  // namespace glidemate::host
