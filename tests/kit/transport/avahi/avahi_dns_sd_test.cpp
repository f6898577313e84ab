#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "kit/transport/avahi/avahi_dns_sd.hpp"
#include "tests/support/dns_sd_daemons.hpp"
#include "tests/support/run_until.hpp"

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
