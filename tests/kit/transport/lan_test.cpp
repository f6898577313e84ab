#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "kit/transport/bonjour_discovery.hpp"
#include "kit/transport/lan_listener.hpp"
#include "tests/support/fake_dns_sd.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::runUntil;

class LANListenerTest : public ::testing::Test {
 protected:
  asio::io_context io;
  testing::FakeDnsSd dnsSd;
  NullLogger logger;
  LANListener listener{io.get_executor(), "HOST-ID", "Desk", &dnsSd, logger};
  std::vector<LANListener::State> states;
  std::vector<std::shared_ptr<StreamTransport>> accepted;

  void SetUp() override {
    asio::co_spawn(io, collectStates(), asio::detached);
    asio::co_spawn(io, collectConnections(), asio::detached);
  }

  asio::awaitable<void> collectStates() {
    while (auto s = co_await listener.states().next()) states.push_back(*s);
  }
  asio::awaitable<void> collectConnections() {
    while (auto c = co_await listener.connections().next()) accepted.push_back(*c);
  }

  std::uint16_t listeningPort() {
    EXPECT_TRUE(runUntil(io, [&] { return !states.empty(); }));
    const auto* listening = std::get_if<LANListener::Listening>(&states.back());
    return listening != nullptr ? listening->port : 0;
  }
};

TEST_F(LANListenerTest, AdvertisesOnceWithItsIdentityAndAccepts) {
  listener.start();
  listener.start();
  const auto port = listeningPort();
  ASSERT_NE(port, 0);
  ASSERT_EQ(dnsSd.advertisements.size(), 1u);
  const auto& ad = *dnsSd.advertisements.front();
  EXPECT_EQ(ad.name, "Desk");
  EXPECT_EQ(ad.type, "_glidemate._tcp");
  EXPECT_EQ(ad.port, port);
  EXPECT_EQ(ad.txt, (TxtRecord{{"id", "HOST-ID"}, {"name", "Desk"}, {"v", "1"}}));

  // Without a DNS-SD daemon the door stays open.
  ad.onEvent(DnsSd::Unavailable{"no daemon"});
  asio::ip::tcp::socket phone(io);
  phone.connect({asio::ip::make_address("127.0.0.1"), port});
  ASSERT_TRUE(runUntil(io, [&] { return accepted.size() == 1; }));
  EXPECT_EQ(accepted.front()->kind(), TransportKind::lan);
  EXPECT_EQ(accepted.front()->remoteHost(), "127.0.0.1");
}

TEST_F(LANListenerTest, StopWithdrawsAndGoesIdleAndRestartListensAgain) {
  listener.start();
  ASSERT_NE(listeningPort(), 0);
  listener.stop();
  ASSERT_TRUE(runUntil(io, [&] { return states.size() == 2; }));
  EXPECT_EQ(states.back(), LANListener::State(LANListener::Idle{}));
  EXPECT_TRUE(dnsSd.advertisements.front()->withdrawn);

  listener.start();
  ASSERT_TRUE(runUntil(io, [&] { return states.size() == 3; }));
  EXPECT_TRUE(std::holds_alternative<LANListener::Listening>(states.back()));
  EXPECT_EQ(dnsSd.advertisements.size(), 2u);
}

TEST_F(LANListenerTest, PortInUseIsReportedAsFailed) {
  asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v4(), 0});
  LANListener second(io.get_executor(), "H", "N", nullptr, logger, taken.local_endpoint().port());
  std::optional<LANListener::State> state;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> { state = co_await second.states().next(); },
                 asio::detached);
  second.start();
  ASSERT_TRUE(runUntil(io, [&] { return state.has_value(); }));
  EXPECT_TRUE(std::holds_alternative<LANListener::Failed>(*state));
}

TEST(BonjourDiscovery, HostsFromBrowseResults) {
  const DnsSdService desk{"Desk", "_glidemate._tcp", "local"};
  const DnsSdService deskOnWifi{"Desk", "_glidemate._tcp", "local"};
  const DnsSdService unnamed{"Laptop", "_glidemate._tcp", "local"};
  const DnsSdService anonymous{"Ghost", "_glidemate._tcp", "local"};
  const std::vector<DnsSdBrowseResult> results{
      {desk, 1, {{"id", "A"}, {"name", "Desk (shown)"}, {"v", "1"}}},
      {anonymous, 1, {{"id", ""}, {"name", "Ghost"}}},
      {deskOnWifi, 2, {{"id", "A"}, {"name", "Desk again"}}},
      {unnamed, 1, {{"id", "B"}}},
      {anonymous, 1, {{"name", "No id"}}},
  };
  EXPECT_EQ(BonjourDiscovery::hostsFrom(results),
            (std::vector<DiscoveredHost>{{"A", "Desk (shown)", desk}, {"B", "Laptop", unnamed}}));
}

TEST(BonjourDiscovery, YieldsEveryChangeAndEmptiesOnFailure) {
  asio::io_context io;
  testing::FakeDnsSd dnsSd;
  BonjourDiscovery discovery(io.get_executor(), dnsSd);
  std::vector<std::vector<DiscoveredHost>> lists;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    while (auto l = co_await discovery.hosts().next()) lists.push_back(*l);
  }, asio::detached);
  discovery.start();
  discovery.start();
  ASSERT_EQ(dnsSd.browses.size(), 1u);
  EXPECT_EQ(dnsSd.browses.front()->type, "_glidemate._tcp");
  const DnsSdService desk{"Desk", "_glidemate._tcp", "local"};
  dnsSd.browses.front()->onResults({{desk, 1, {{"id", "A"}}}});
  dnsSd.browses.front()->onFailure("daemon gone");
  ASSERT_TRUE(runUntil(io, [&] { return lists.size() == 2; }));
  EXPECT_EQ(lists[0], (std::vector<DiscoveredHost>{{"A", "Desk", desk}}));
  EXPECT_TRUE(lists[1].empty());
  discovery.stop();
  EXPECT_TRUE(dnsSd.browses.front()->stopped);
}

}  // namespace
}  // namespace glidemate
