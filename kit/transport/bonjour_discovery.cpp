#include "kit/transport/bonjour_discovery.hpp"

#include <algorithm>

#include "kit/transport/transport_error.hpp"
#include "kit/wire/protocol.hpp"

namespace glidemate {
namespace {

const std::string* txtValue(const TxtRecord& txt, std::string_view key) {
  for (const auto& [k, v] : txt) {
    if (k == key) return &v;
  }
  return nullptr;
}

}  // namespace

BonjourDiscovery::BonjourDiscovery(asio::any_io_executor executor, DnsSd& dnsSd)
    : executor_(std::move(executor)),
      dnsSd_(dnsSd),
      hosts_(AsyncStream<std::vector<DiscoveredHost>>::make(executor_)) {}

std::vector<DiscoveredHost> BonjourDiscovery::hostsFrom(
    const std::vector<DnsSdBrowseResult>& results) {
  std::vector<DiscoveredHost> hosts;
  for (const auto& result : results) {
    const std::string* id = txtValue(result.txt, "id");
    if (id == nullptr || id->empty()) continue;
    if (std::any_of(hosts.begin(), hosts.end(), [&](const auto& h) { return h.id == *id; })) {
      continue;
    }
    const std::string* name = txtValue(result.txt, "name");
    hosts.push_back({*id, name != nullptr ? *name : result.service.name, result.service});
  }
  return hosts;
}

void BonjourDiscovery::start() {
  if (browse_) return;
  browse_ = dnsSd_.browse(
      std::string(GlidemateProtocol::serviceType),
      [this](const std::vector<DnsSdBrowseResult>& results) { hosts_.second.yield(hostsFrom(results)); },
      [this](const std::string&) { hosts_.second.yield({}); });
}

void BonjourDiscovery::stop() { browse_.reset(); }

asio::awaitable<DnsSdAddress> BonjourDiscovery::resolve(const DiscoveredHost& host) {
  auto [outcomes, producer] = AsyncStream<std::variant<DnsSdAddress, std::string>>::make(executor_);
  auto sink = std::make_shared<StreamProducer<std::variant<DnsSdAddress, std::string>>>(std::move(producer));
  auto handle = dnsSd_.resolve(host.endpoint, [sink](const auto& outcome) { sink->yield(outcome); });
  auto outcome = co_await outcomes.next();
  if (!outcome) throw TransportError::underlying("resolving \"" + host.name + "\" was abandoned");
  if (auto* reason = std::get_if<std::string>(&*outcome)) throw TransportError::underlying(*reason);
  co_return std::get<DnsSdAddress>(*outcome);
}

}  // namespace glidemate
