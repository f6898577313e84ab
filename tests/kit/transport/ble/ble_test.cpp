#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "kit/session/session.hpp"
#include "kit/transport/ble/ble_peripheral_host.hpp"
#include "kit/transport/ble/ble_protocol.hpp"
#include "kit/transport/ble/ble_send_queue.hpp"
#include "kit/transport/ble/ble_transport.hpp"
#include "kit/transport/ble/unsupported_ble_peripheral_manager.hpp"
#include "tests/kit/session/fake_pairing_provider.hpp"
#include "tests/kit/transport/ble/fake_ble_peripheral_manager.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::FakeBLEPeripheralManager;
using testing::driveUntil;
using testing::runAwaitable;
using Central = BLEPeripheralManager::Central;
using RadioState = BLEPeripheralManager::RadioState;
using State = BLEPeripheralHost::State;

Bytes counting(std::size_t size) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

// A radio that takes fragments while it has room, and records them.
struct Radio {
  std::size_t room = std::numeric_limits<std::size_t>::max();
  std::vector<Bytes> fragments;
  BLETransport::WriteFragment writer() {
    return [this](const Bytes& fragment) {
      if (room == 0) return false;
      --room;
      fragments.push_back(fragment);
      return true;
    };
  }
  std::vector<std::size_t> sizes() const {
    std::vector<std::size_t> out;
    for (const auto& f : fragments) out.push_back(f.size());
    return out;
  }
  Bytes joined() const {
    Bytes out;
    for (const auto& f : fragments) out.insert(out.end(), f.begin(), f.end());
    return out;
  }
};

class BLETransportTest : public ::testing::Test {
 protected:
  asio::io_context io;
  Radio radio;
  BLETransport transport{io.get_executor(), 182, radio.writer()};

  void send(Bytes data, Channel channel = Channel::reliable) { runAwaitable(io, transport.send(std::move(data), channel)); }
  std::optional<TransportEvent> next() { return runAwaitable(io, transport.events().next()); }
};

TEST_F(BLETransportTest, SendIsCutToTheLinksFragmentSize) {
  send(counting(500));
  EXPECT_EQ(radio.sizes(), (std::vector<std::size_t>{182, 182, 136}));
  EXPECT_EQ(radio.joined(), counting(500));
}

TEST_F(BLETransportTest, RefusedFragmentGoesFirstWhenTheRadioIsReady) {
  radio.room = 1;
  send(counting(500));
  EXPECT_EQ(radio.sizes(), std::vector<std::size_t>{182});
  EXPECT_EQ(transport.pendingBytes(), 318u);
  // Queued behind the refused fragment, not ahead of it.
  send(Bytes{0xEE});
  radio.room = 10;
  transport.radioReady();
  EXPECT_EQ(radio.sizes(), (std::vector<std::size_t>{182, 182, 137}));
  Bytes expected = counting(500);
  expected.push_back(0xEE);
  EXPECT_EQ(radio.joined(), expected);
}

TEST_F(BLETransportTest, FullBacklogDropsOnlyUnreliableData) {
  radio.room = 0;
  send(Bytes(1024, 1));
  send(Bytes(10, 2), Channel::unreliable);
  EXPECT_EQ(transport.pendingBytes(), 1024u);
  send(Bytes(10, 3), Channel::reliable);
  EXPECT_EQ(transport.pendingBytes(), 1034u);

  // Below the limit, unreliable data is taken.
  BLETransport other(io.get_executor(), 20, radio.writer());
  runAwaitable(io, other.send(Bytes(1023, 1), Channel::reliable));
  runAwaitable(io, other.send(Bytes(10, 2), Channel::unreliable));
  EXPECT_EQ(other.pendingBytes(), 1033u);
}

TEST_F(BLETransportTest, ClosesOnceAndThenIgnoresEverything) {
  transport.start();
  transport.received(Bytes{1, 2});
  transport.received(Bytes{});
  radio.room = 0;
  send(Bytes(50, 9));
  transport.close();
  transport.closed(TransportError::underlying("radio off"));
  transport.received(Bytes{3});
  send(Bytes(5, 1));
  radio.room = 10;
  transport.radioReady();

  EXPECT_EQ(next(), TransportEvent(TransportEvent::Ready{}));
  EXPECT_EQ(next(), TransportEvent(TransportEvent::Data{Bytes{1, 2}, Channel::reliable}));
  EXPECT_EQ(next(), TransportEvent(TransportEvent::Closed{std::nullopt}));
  EXPECT_EQ(next(), std::nullopt);
  EXPECT_TRUE(radio.fragments.empty());
  EXPECT_EQ(transport.pendingBytes(), 0u);
  // Whatever the session asks for, it sends reliably on this link.
  EXPECT_FALSE(transport.hasUnreliableChannel());
  EXPECT_EQ(transport.kind(), TransportKind::ble);
}

TEST(BLESendQueueTest, EdgeValues) {
  BLESendQueue queue(0);
  EXPECT_EQ(queue.maximumFragment(), 1u);
  EXPECT_TRUE(queue.enqueue({}, true));
  EXPECT_TRUE(queue.isEmpty());
  EXPECT_EQ(queue.nextFragment(), std::nullopt);
  const Bytes two{7, 8};
  EXPECT_TRUE(queue.enqueue(two, false));
  EXPECT_EQ(queue.nextFragment(), Bytes{7});
  queue.setFragmentSize(BLEProtocol::conservativeFragment);
  EXPECT_EQ(queue.nextFragment(), Bytes{8});
}

class BLEPeripheralHostTest : public ::testing::Test {
 protected:
  asio::io_context io;
  FakeBLEPeripheralManager* fake = nullptr;
  std::unique_ptr<BLEPeripheralHost> host = std::make_unique<BLEPeripheralHost>(
      io.get_executor(), "Conference Room MacBook", FakeBLEPeripheralManager::factory(fake));
  const Central ann{"ANN", 182};
  const Central bob{"BOB", 100};

  State nextState() { return *runAwaitable(io, host->states().next()); }
  std::shared_ptr<BLETransport> nextConnection() { return *runAwaitable(io, host->connections().next()); }

  void advertise() {
    host->start();
    fake->setState(RadioState::poweredOn);
    EXPECT_EQ(nextState(), State::advertising);
  }

  BLEPeripheralManager::WriteRequest write(const Central& from, Bytes value,
                                           std::string characteristic = FakeBLEPeripheralManager::inbound()) {
    return {from, std::move(characteristic), std::move(value)};
  }
};

TEST_F(BLEPeripheralHostTest, PublishesTheServiceAndAdvertisesTheShortName) {
  advertise();
  using M = BLEPeripheralManager;
  ASSERT_EQ(fake->addedServices.size(), 1u);
  const M::Service& service = fake->addedServices.front();
  EXPECT_EQ(service.identifier, "5C3E9A70-1D2B-4F68-8E41-7B0A2C6D9F35");
  EXPECT_TRUE(service.primary);
  EXPECT_EQ(service.characteristics,
            (std::vector<M::Characteristic>{
                {"5C3E9A71-1D2B-4F68-8E41-7B0A2C6D9F35", {.write = true, .writeWithoutResponse = true},
                 {.writeable = true}},
                {"5C3E9A72-1D2B-4F68-8E41-7B0A2C6D9F35", {.notify = true}, {.readable = true}},
            }));
  EXPECT_EQ(fake->removals, 1u);  // whatever was published before goes first
  EXPECT_EQ(fake->advertising,
            (M::Advertisement{{"5C3E9A70-1D2B-4F68-8E41-7B0A2C6D9F35"}, "Conference Room "}));
  // Characters, not bytes: a name is never cut inside one.
  EXPECT_EQ(BLEPeripheralHost::advertisement("Ærøskøbing’s Mac mini").localName, "Ærøskøbing’s Mac");
}

TEST_F(BLEPeripheralHostTest, RadioStatesAreReported) {
  host->start();
  const std::vector<std::pair<RadioState, State>> cases = {
      {RadioState::unsupported, State::unsupported}, {RadioState::unauthorized, State::unauthorised},
      {RadioState::poweredOff, State::poweredOff},   {RadioState::unknown, State::idle},
      {RadioState::resetting, State::idle},
  };
  for (const auto& [radio, expected] : cases) {
    fake->setState(radio);
    EXPECT_EQ(nextState(), expected);
  }
  EXPECT_TRUE(fake->addedServices.empty());
}

TEST_F(BLEPeripheralHostTest, ServiceErrorDoesNotAdvertise) {
  host->start();
  fake->addServiceError = "no room";
  fake->setState(RadioState::poweredOn);
  io.poll();
  EXPECT_FALSE(fake->advertising);
}

TEST_F(BLEPeripheralHostTest, LatestSubscriberWins) {
  advertise();
  fake->subscribe(ann, FakeBLEPeripheralManager::inbound());  // not the outbound one: ignored
  fake->subscribe(ann);
  auto first = nextConnection();
  fake->subscribe(ann);  // the same central again: nothing new
  fake->subscribe(bob);
  auto second = nextConnection();
  EXPECT_TRUE(first->isClosed());
  EXPECT_FALSE(second->isClosed());

  // The old central leaving changes nothing.
  fake->unsubscribe(ann);
  EXPECT_FALSE(second->isClosed());

  // Fragments follow the subscriber's size and go to it alone.
  runAwaitable(io, second->send(counting(150), Channel::reliable));
  ASSERT_EQ(fake->updates.size(), 2u);
  EXPECT_EQ(fake->updates[0], (FakeBLEPeripheralManager::Update{counting(100), FakeBLEPeripheralManager::outbound(), "BOB"}));
  EXPECT_EQ(fake->updates[1].value.size(), 50u);

  fake->unsubscribe(bob);
  EXPECT_TRUE(second->isClosed());
}

TEST_F(BLEPeripheralHostTest, OnlyTheSubscribersWritesAreDelivered) {
  advertise();
  fake->subscribe(ann);
  auto transport = nextConnection();
  transport->start();
  EXPECT_EQ(*runAwaitable(io, transport->events().next()), TransportEvent(TransportEvent::Ready{}));

  const auto fromBob = write(bob, Bytes{1});
  fake->write({fromBob, write(ann, Bytes{2}), write(ann, Bytes{3}, FakeBLEPeripheralManager::outbound()),
               BLEPeripheralManager::WriteRequest{ann, FakeBLEPeripheralManager::inbound(), std::nullopt},
               write(ann, Bytes{4})});
  EXPECT_EQ(*runAwaitable(io, transport->events().next()),
            TransportEvent(TransportEvent::Data{Bytes{2}, Channel::reliable}));
  EXPECT_EQ(*runAwaitable(io, transport->events().next()),
            TransportEvent(TransportEvent::Data{Bytes{4}, Channel::reliable}));
  // The batch is answered once, through its first request, even when that
  // one came from a stranger.
  EXPECT_EQ(fake->responses, std::vector<BLEPeripheralManager::WriteRequest>{fromBob});
  fake->write({});
  EXPECT_EQ(fake->responses.size(), 1u);
}

TEST_F(BLEPeripheralHostTest, BackPressureWaitsForTheRadio) {
  advertise();
  fake->subscribe(ann);
  auto transport = nextConnection();
  fake->updatesAccepted = 1;
  runAwaitable(io, transport->send(counting(400), Channel::reliable));
  EXPECT_EQ(fake->updates.size(), 1u);
  fake->makeRoom(5);
  ASSERT_EQ(fake->updates.size(), 3u);
  Bytes delivered;
  for (const auto& u : fake->updates) delivered.insert(delivered.end(), u.value.begin(), u.value.end());
  EXPECT_EQ(delivered, counting(400));
}

TEST_F(BLEPeripheralHostTest, StopEndsEverythingAndStartRepublishes) {
  advertise();
  fake->subscribe(ann);
  auto transport = nextConnection();
  host->stop();
  EXPECT_EQ(nextState(), State::idle);
  EXPECT_TRUE(transport->isClosed());
  EXPECT_FALSE(fake->advertising);

  // The radio is still on, so start() need not wait for a new radio state.
  host->start();
  EXPECT_EQ(nextState(), State::advertising);
  EXPECT_EQ(fake->addedServices.size(), 2u);
}

TEST_F(BLEPeripheralHostTest, DestroyingTheHostClosesItsTransport) {
  advertise();
  fake->subscribe(ann);
  auto transport = nextConnection();
  host.reset();
  EXPECT_TRUE(transport->isClosed());
  runAwaitable(io, transport->send(Bytes(10, 1), Channel::reliable));  // goes nowhere, and safely
}

TEST(UnsupportedBLEPeripheralManagerTest, HostReportsUnsupported) {
  asio::io_context io;
  BLEPeripheralHost host(io.get_executor(), "Desk", UnsupportedBLEPeripheralManager::make);
  host.start();
  EXPECT_EQ(runAwaitable(io, host.states().next()), State::unsupported);
}

// A host session over the host's BLETransport and a phone session over the
// fake link: pairing, then messages both ways.
TEST_F(BLEPeripheralHostTest, SessionsPairAndTalkOverTheLink) {
  advertise();
  auto hostPairing = std::make_shared<testing::FakePairingProvider>();
  auto phonePairing = std::make_shared<testing::FakePairingProvider>();
  hostPairing->code = phonePairing->code = PairingCode::fromValue(482913);
  auto link = fake->link(Central{"PHONE", 182});
  auto phone = Session::make(io.get_executor(), link, Session::Role::client, PeerInfo{"PHONE-ID", "Phone"},
                             phonePairing);

  std::optional<PeerInfo> phoneSaw;
  auto phoneSide = [&]() -> asio::awaitable<void> { phoneSaw = co_await phone->performHandshake(); };
  asio::co_spawn(io, phoneSide(), asio::detached);
  auto transport = nextConnection();
  auto session = Session::make(io.get_executor(), transport, Session::Role::host, PeerInfo{"HOST-ID", "Host"},
                               hostPairing);
  const PeerInfo hostSaw = runAwaitable(io, session->performHandshake());
  driveUntil(io, [&] { return phoneSaw.has_value(); });
  EXPECT_EQ(hostSaw, (PeerInfo{"PHONE-ID", "Phone"}));
  EXPECT_EQ(phoneSaw, (PeerInfo{"HOST-ID", "Host"}));

  auto hostInbox = session->messages();
  auto phoneInbox = phone->messages();
  Message ping = Message::Ping{77};
  runAwaitable(io, phone->send(ping));
  EXPECT_EQ(runAwaitable(io, hostInbox.next()), ping);
  // Sent "unreliable" by the host, still delivered: the link has one stream.
  Message pong = Message::Pong{77};
  runAwaitable(io, session->send(pong, Channel::unreliable));
  EXPECT_EQ(runAwaitable(io, phoneInbox.next()), pong);
  const std::size_t largest = std::max_element(fake->updates.begin(), fake->updates.end(), [](auto& a, auto& b) {
                                return a.value.size() < b.value.size();
                              })->value.size();
  EXPECT_LE(largest, 182u);

  phone->close();
  session->close();
}

}  // namespace
}  // namespace glidemate
