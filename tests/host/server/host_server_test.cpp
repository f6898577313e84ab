#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <filesystem>
#include <cctype>

#include "host/server/host_server.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"
#include "kit/session/x25519_key_pair.hpp"
#include "kit/transport/in_memory_transport.hpp"
#include "kit/transport/stream_transport.hpp"
#include "kit/wire/record_framer.hpp"
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

// A phone whose user takes their time before typing the code.
class Unhurried final : public PairingProvider {
 public:
  Unhurried(std::shared_ptr<PairingProvider> inner, std::function<asio::awaitable<void>()> pause)
      : inner_(std::move(inner)), pause_(std::move(pause)) {}
  asio::awaitable<std::optional<SymmetricKey>> longTermKey(std::string peerId) override {
    co_return co_await inner_->longTermKey(std::move(peerId));
  }
  asio::awaitable<std::optional<PairingCode>> beginPairing(PeerInfo peer) override {
    co_await pause_();
    co_return co_await inner_->beginPairing(std::move(peer));
  }
  asio::awaitable<void> pairingSucceeded(SymmetricKey key, PeerInfo peer) override {
    co_await inner_->pairingSucceeded(std::move(key), std::move(peer));
  }
  asio::awaitable<void> pairingFailed(PeerInfo peer) override { co_await inner_->pairingFailed(std::move(peer)); }
  asio::awaitable<bool> holdsAnyLongTermKey() override { co_return co_await inner_->holdsAnyLongTermKey(); }

 private:
  std::shared_ptr<PairingProvider> inner_;
  std::function<asio::awaitable<void>()> pause_;
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
  std::optional<PairingCode> lastTyped;
  // Runs while the phone's user reads the code, before it is typed.
  std::function<void()> whileTyping;
  // Awaited before the code is read off the host: a user taking their time.
  std::function<asio::awaitable<void>()> beforeTyping;
  // Codes used up by failed pairings, kept between connections.
  SpentPairingCodes spent;
  std::optional<PairingCode> refused;
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

  std::shared_ptr<HostServer> makeServer(const std::function<void(HostServer::Configuration&)>& adjust = nullptr) {
    HostServer::Configuration configuration{
        .keys = hostKeys,
        .defaults = defaults,
        .logger = logger,
        .hostName = "Desk",
        .maxPendingHandshakesPerSource = 2,
    };
    if (adjust) adjust(configuration);
    auto s = HostServer::make(io.get_executor(), std::move(configuration));
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
    return handshake(phone, phoneEnd);
  }

  // Runs `phone`'s side of the handshake over `phoneEnd` to its end.
  std::shared_ptr<Connection> handshake(Phone& phone, std::shared_ptr<Transport> phoneEnd) {
    auto pairing = std::make_shared<phone::PhonePairing>(
        phone.store,
        [this, &phone](const PeerInfo&) {
          const auto shown = server->pairing.activeCode.get();
          if (phone.whileTyping) phone.whileTyping();
          if (phone.mistypes && shown) {
            phone.lastTyped = PairingCode::fromValue((shown->value() + 1) % PairingCode::valueLimit);
          } else {
            phone.lastTyped = phone.typed ? phone.typed : shown;
          }
          return phone.lastTyped;
        },
        phone.spent);
    auto connection = std::make_shared<Connection>();
    std::shared_ptr<PairingProvider> provider = pairing;
    if (phone.beforeTyping) provider = std::make_shared<Unhurried>(pairing, phone.beforeTyping);
    connection->session = Session::make(io.get_executor(), std::move(phoneEnd), Session::Role::client,
                                        PeerInfo{phone.id, phone.name}, provider);
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
    phone.spent = pairing->spentCodes();
    phone.refused = pairing->refusedCode();
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

// A code that failed may have been learnt in part by whoever the phone
// talked to; typed again, the phone keeps it to itself.
TEST_F(HostServerTest, APhoneDoesNotOfferACodeThatFailedAgain) {
  Phone ann("ANN", "Ann");
  ann.mistypes = true;
  EXPECT_EQ(connect(ann)->error, "pairing code did not match");
  ASSERT_TRUE(ann.lastTyped);
  ann.mistypes = false;
  ann.typed = ann.lastTyped;
  EXPECT_TRUE(connect(ann)->error);
  EXPECT_EQ(ann.refused, ann.lastTyped);
  // Nothing of the code went out: the host counted one wrong code, not two.
  EXPECT_EQ(server->pairing.throttle().failures().size(), 1u);
  EXPECT_TRUE(hostKeys.items.empty());
}

// The user stops a pairing on the host while the phone's user is typing
// the code: the phone that goes on with that code is not let in, and no
// key is kept on either side.
TEST_F(HostServerTest, APairingStoppedOnTheHostDoesNotComplete) {
  struct Case {
    std::string name;
    std::function<void(HostServer&)> stop;
  };
  const std::vector<Case> cases{
      {"Not me", [](HostServer& s) { s.pairing.decline(); }},
      {"pause", [](HostServer& s) { s.setPaused(true); }},
      {"disconnect", [](HostServer& s) { s.disconnect("ANN"); }},
      {"forget", [](HostServer& s) { s.forget("ANN"); }},
  };
  int address = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Phone ann("ANN", "Ann");
    ann.whileTyping = [&] { c.stop(*server); };
    // A fresh source each time: "Not me" turns its source away.
    const auto connection = connect(ann, TransportKind::lan, "10.0.1." + std::to_string(address++));
    // The host hung up at once, rather than waiting to refuse the phone
    // once the rounds were over.
    ASSERT_TRUE(connection->error);
    EXPECT_TRUE(*connection->error == HandshakeError::connectionClosed().what() ||
                *connection->error == TransportError::closed().what())
        << *connection->error;
    EXPECT_FALSE(connection->session->isEstablished());
    EXPECT_TRUE(hostKeys.items.empty());
    EXPECT_TRUE(ann.keys.items.empty());
    EXPECT_TRUE(server->liveSessions().empty());
    // The host's side of the attempt ends too, and gives its code back.
    EXPECT_TRUE(runUntil(io, [&] { return !server->pairing.activeCode->has_value(); }));
    server->setPaused(false);
    server->allow("ANN");
  }
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

// The phone's end of a connection that a test drives by hand.
struct RawPeer {
  std::shared_ptr<InMemoryTransport> end;
  bool answered = false;
  bool closed = false;
};

class AdmissionTest : public HostServerTest {
 protected:
  // A connection from `address` that says nothing.
  std::shared_ptr<RawPeer> silentFrom(const std::string& address) {
    auto [phoneEnd, hostEnd] = InMemoryTransport::makePair(io.get_executor(), {});
    auto peer = std::make_shared<RawPeer>();
    peer->end = phoneEnd;
    asio::co_spawn(io, [](std::shared_ptr<RawPeer> p) -> asio::awaitable<void> {
      while (auto e = co_await p->end->events().next()) {
        if (std::holds_alternative<TransportEvent::Data>(e->value)) p->answered = true;
        if (std::holds_alternative<TransportEvent::Closed>(e->value)) p->closed = true;
      }
    }(peer), asio::detached);
    phoneEnd->start();
    server->accept(std::make_shared<FromAddress>(hostEnd, address));
    io.poll();
    io.restart();
    return peer;
  }

  // A connection from `address` whose phone, paired already, says hello and
  // then stalls before proving its key: a handshake under way.
  std::shared_ptr<RawPeer> stalledFrom(const std::string& address, const std::string& phoneId) {
    const auto now = std::chrono::system_clock::now();
    server->pairing.store().save(SymmetricKey(Bytes(32, 1)), PairedPeer{phoneId, phoneId, now, now});
    auto peer = silentFrom(address);
    const auto ephemeral = X25519KeyPair::generate().publicKey();
    const HandshakeMessage::Hello hello{1, phoneId, phoneId, Bytes(ephemeral.begin(), ephemeral.end()),
                                        Bytes(16, 0), true};
    Bytes record = RecordFramer::encode(RecordKind::handshake, encodeHandshake(hello).body);
    testing::runAwaitable(io, peer->end->send(std::move(record), Channel::reliable));
    EXPECT_TRUE(runUntil(io, [&] { return peer->answered; }));
    return peer;
  }

  // Lets everything ready run, so that what has not happened will not.
  void settle() {
    io.poll();
    io.restart();
  }
};

// The fixture allows two unfinished handshakes per address.
TEST_F(AdmissionTest, WhenAnAddressIsFullItsOldestSilentConnectionMakesWay) {
  auto first = silentFrom("10.6.6.6");
  auto second = silentFrom("10.6.6.6");
  auto third = silentFrom("10.6.6.6");
  ASSERT_TRUE(runUntil(io, [&] { return first->closed; }));
  settle();
  EXPECT_FALSE(second->closed || third->closed);
  EXPECT_EQ(server->unfinishedHandshakes(), 2u);

  // Handshakes under way keep their places: with both of an address's
  // places held by them, a newcomer from there is turned away at once.
  auto alice = stalledFrom("10.7.7.7", "ALICE");
  auto bob = stalledFrom("10.7.7.7", "BOB");
  auto late = silentFrom("10.7.7.7");
  ASSERT_TRUE(runUntil(io, [&] { return late->closed; }));
  settle();
  EXPECT_FALSE(alice->closed || bob->closed);
  Phone ann("ANN", "Ann");
  EXPECT_FALSE(connect(ann, TransportKind::lan, "10.0.0.7")->error);
}

// Anyone on the network may open sockets and say nothing. Eight addresses
// with eight such sockets each fill every place, yet a real phone pairs at
// once: it takes the place of the oldest silent socket from its address.
// No time-out plays a part.
TEST_F(AdmissionTest, SixtyFourSilentSocketsFromEightAddressesDoNotLockAPhoneOut) {
  server = makeServer([](HostServer::Configuration& c) {
    c.maxPendingHandshakesPerSource = 8;
    c.firstRecordTimeout = std::chrono::hours(1);
  });
  server->start();
  ASSERT_TRUE(runUntil(io, [&] { return std::holds_alternative<LANListener::Listening>(server->listenerState.get()); }));
  const auto port = std::get<LANListener::Listening>(server->listenerState.get()).port;
  const asio::ip::tcp::endpoint listener(asio::ip::make_address("127.0.0.1"), port);
  std::vector<asio::ip::tcp::socket> silent;
  for (int address = 1; address <= 8; ++address) {
    for (int i = 0; i < 8; ++i) {
      asio::ip::tcp::socket socket(io, asio::ip::tcp::endpoint(
                                           asio::ip::make_address("127.0.0." + std::to_string(address)), 0));
      socket.connect(listener);
      silent.push_back(std::move(socket));
    }
  }
  ASSERT_TRUE(runUntil(io, [&] { return server->unfinishedHandshakes() == 64; }));

  Phone ann("ANN", "Ann");
  auto phone = handshake(ann, StreamTransport::connect(io.get_executor(), "127.0.0.1", port));
  EXPECT_FALSE(phone->error) << *phone->error;
  // The socket that made way is the oldest from the phone's address.
  std::array<std::uint8_t, 1> byte{};
  asio::error_code ended;
  bool read = false;
  silent.front().async_read_some(asio::buffer(byte), [&](asio::error_code ec, std::size_t) {
    ended = ec;
    read = true;
  });
  ASSERT_TRUE(runUntil(io, [&] { return read; }));
  EXPECT_EQ(ended, asio::error::eof);
}

// Only the first record has the short deadline: a socket that says nothing
// is closed at it, while a phone that said hello and then takes longer to
// type the code still pairs.
TEST_F(AdmissionTest, ASilentSocketIsClosedEarlyWhileAPhoneThatTypesSlowlyPairs) {
  server = makeServer([](HostServer::Configuration& c) { c.firstRecordTimeout = std::chrono::milliseconds(20); });
  server->start();
  ASSERT_TRUE(runUntil(io, [&] { return std::holds_alternative<LANListener::Listening>(server->listenerState.get()); }));
  const auto port = std::get<LANListener::Listening>(server->listenerState.get()).port;

  // The user reads the code while a socket, opened after the phone's
  // connection, says nothing; they type once it has been closed, so the
  // phone's own first-record deadline has passed as well.
  asio::ip::tcp::socket silent(io);
  asio::error_code silentEnd;
  Phone ann("ANN", "Ann");
  ann.beforeTyping = [&]() -> asio::awaitable<void> {
    co_await silent.async_connect({asio::ip::make_address("127.0.0.1"), port}, asio::use_awaitable);
    std::array<std::uint8_t, 1> byte{};
    co_await silent.async_read_some(asio::buffer(byte), asio::redirect_error(asio::use_awaitable, silentEnd));
  };
  auto phone = handshake(ann, StreamTransport::connect(io.get_executor(), "127.0.0.1", port));
  EXPECT_EQ(silentEnd, asio::error::eof);
  EXPECT_FALSE(phone->error) << *phone->error;
  EXPECT_EQ(server->pairing.pairedDevices->size(), 1u);
}

}  // namespace
}  // namespace glidemate::host
