#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <sstream>

#include "kit/transport/avahi/avahi_dns_sd.hpp"
#include "kit/transport/bonjour_discovery.hpp"
#include "kit/transport/lan_listener.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/dns_sd_daemons.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate {
namespace {

using testing::runUntil;

const std::string type = "_glidemate._tcp";
const TxtRecord txt{{"id", "HOST-1"}, {"name", "Desk"}, {"v", "1"}};

class AvahiDnsSdTest : public ::testing::Test {
 protected:
  testing::DnsSdDaemons daemons;
  asio::io_context io;
  AvahiDnsSd dnsSd{io.get_executor()};

  struct Watch {
    std::vector<DnsSdBrowseResult> results;
    int failures = 0;
    std::unique_ptr<DnsSd::Handle> handle;
  };

  std::unique_ptr<Watch> browse() {
    auto w = std::make_unique<Watch>();
    w->handle = dnsSd.browse(
        type, [w = w.get()](const auto& results) { w->results = results; },
        [w = w.get()](const std::string&) {
          w->results.clear();
          ++w->failures;
        });
    return w;
  }

  static bool lists(const Watch& w, const std::string& name) {
    for (const auto& r : w.results) {
      if (r.service.name == name) return true;
    }
    return false;
  }
};

TEST_F(AvahiDnsSdTest, AdvertisedServiceIsBrowsedWithItsTxtAndResolved) {
  std::vector<DnsSd::AdvertisementEvent> events;
  auto ad = dnsSd.advertise("Desk", type, 4242, txt, [&](const auto& e) { events.push_back(e); });
  ASSERT_TRUE(runUntil(io, [&] {
    return !events.empty() && std::holds_alternative<DnsSd::Registered>(events.back());
  }));
  EXPECT_EQ(std::get<DnsSd::Registered>(events.back()).name, "Desk");

  auto watch = browse();
  ASSERT_TRUE(runUntil(io, [&] { return lists(*watch, "Desk"); }));
  const auto& found = watch->results.front();
  EXPECT_EQ(found.service.type, type);
  EXPECT_EQ(found.txt, txt);

  std::optional<std::variant<DnsSdAddress, std::string>> resolved;
  auto resolving = dnsSd.resolve(found.service, [&](const auto& r) { resolved = r; });
  ASSERT_TRUE(runUntil(io, [&] { return resolved.has_value(); }));
  ASSERT_TRUE(std::holds_alternative<DnsSdAddress>(*resolved)) << std::get<std::string>(*resolved);
  EXPECT_EQ(std::get<DnsSdAddress>(*resolved), (DnsSdAddress{"127.0.0.1", 4242}));

  ad.reset();
  ASSERT_TRUE(runUntil(io, [&] { return !lists(*watch, "Desk"); }));
}

TEST_F(AvahiDnsSdTest, NameCollisionTakesTheAlternativeName) {
  std::string first;
  std::string second;
  auto a = dnsSd.advertise("Desk", type, 4242, txt, [&](const auto& e) {
    if (auto* r = std::get_if<DnsSd::Registered>(&e)) first = r->name;
  });
  ASSERT_TRUE(runUntil(io, [&] { return !first.empty(); }));
  auto b = dnsSd.advertise("Desk", type, 4343, txt, [&](const auto& e) {
    if (auto* r = std::get_if<DnsSd::Registered>(&e)) second = r->name;
  });
  ASSERT_TRUE(runUntil(io, [&] { return !second.empty(); }));
  EXPECT_EQ(first, "Desk");
  EXPECT_EQ(second, "Desk #2");
}

TEST_F(AvahiDnsSdTest, CarriesOnWithoutTheDaemonAndComesBackWithIt) {
  daemons.stopAvahi();
  std::vector<DnsSd::AdvertisementEvent> events;
  auto ad = dnsSd.advertise("Desk", type, 4242, txt, [&](const auto& e) { events.push_back(e); });
  auto watch = browse();
  ASSERT_TRUE(runUntil(io, [&] {
    return !events.empty() && std::holds_alternative<DnsSd::Unavailable>(events.back()) &&
           watch->failures > 0;
  }));

  daemons.startAvahi();
  ASSERT_TRUE(runUntil(io, [&] {
    return std::holds_alternative<DnsSd::Registered>(events.back()) && lists(*watch, "Desk");
  }));

  // A restart of the daemon withdraws the service, then announces it again.
  daemons.stopAvahi();
  ASSERT_TRUE(runUntil(io, [&] { return std::holds_alternative<DnsSd::Unavailable>(events.back()); }));
  daemons.startAvahi();
  ASSERT_TRUE(runUntil(io, [&] {
    return std::holds_alternative<DnsSd::Registered>(events.back()) && lists(*watch, "Desk");
  }));
}

}  // namespace
}  // namespace glidemate

namespace glidemate {
namespace {

// The whole local-network path: the host's listener advertises, a phone's
// discovery finds it, resolves it and connects.
TEST_F(AvahiDnsSdTest, PhoneFindsAndReachesAnAdvertisedListener) {
  NullLogger logger;
  LANListener listener(io.get_executor(), "HOST-7", "Study", &dnsSd, logger);
  std::vector<std::shared_ptr<StreamTransport>> accepted;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    while (auto c = co_await listener.connections().next()) accepted.push_back(*c);
  }, asio::detached);
  listener.start();

  BonjourDiscovery discovery(io.get_executor(), dnsSd);
  std::vector<DiscoveredHost> hosts;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    while (auto l = co_await discovery.hosts().next()) hosts = *l;
  }, asio::detached);
  discovery.start();
  ASSERT_TRUE(runUntil(io, [&] { return !hosts.empty(); }));
  EXPECT_EQ(hosts.front().id, "HOST-7");
  EXPECT_EQ(hosts.front().name, "Study");

  std::shared_ptr<StreamTransport> phone;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    const auto address = co_await discovery.resolve(hosts.front());
    phone = StreamTransport::connect(io.get_executor(), address.host, address.port);
    phone->start();
  }, asio::detached);
  ASSERT_TRUE(runUntil(io, [&] { return accepted.size() == 1; }));
  EXPECT_EQ(accepted.front()->remoteHost(), "127.0.0.1");
  phone->close();
}

}  // namespace
}  // namespace glidemate

namespace glidemate {
namespace {

// An independent browser sees our advertisement with exactly our TXT keys.
TEST_F(AvahiDnsSdTest, AvahiBrowseSeesTheListenersAdvertisement) {
  NullLogger logger;
  LANListener listener(io.get_executor(), "HOST-9", "Den", &dnsSd, logger);
  std::optional<std::uint16_t> port;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    while (auto state = co_await listener.states().next()) {
      if (auto* l = std::get_if<LANListener::Listening>(&*state)) port = l->port;
    }
  }, asio::detached);
  auto watch = browse();
  listener.start();
  ASSERT_TRUE(runUntil(io, [&] { return port.has_value() && lists(*watch, "Den"); }));

  // -p: parsable, -r: resolve, -t: stop after the cache is listed.
  const auto result = testing::runProgram({"avahi-browse", "-prt", "_glidemate._tcp"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::string resolved;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("=;", 0) == 0) resolved = line;
  }
  ASSERT_FALSE(resolved.empty()) << result.out;
  EXPECT_NE(resolved.find(";Den;_glidemate._tcp;local;"), std::string::npos) << resolved;
  EXPECT_NE(resolved.find(";127.0.0.1;" + std::to_string(*port) + ";"), std::string::npos) << resolved;
  // The TXT record is the last field: exactly our three strings.
  const std::string record = resolved.substr(resolved.rfind(';') + 1);
  std::vector<std::string> strings;
  for (std::size_t at = record.find('"'); at != std::string::npos;
       at = record.find('"', record.find('"', at + 1) + 1)) {
    strings.push_back(record.substr(at + 1, record.find('"', at + 1) - at - 1));
  }
  std::sort(strings.begin(), strings.end());
  EXPECT_EQ(strings, (std::vector<std::string>{"id=HOST-9", "name=Den", "v=1"})) << record;
}

}  // namespace
}  // namespace glidemate
