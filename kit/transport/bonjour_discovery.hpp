#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <memory>
#include <vector>

#include "kit/runtime/async_stream.hpp"
#include "kit/transport/discovered_host.hpp"
#include "kit/transport/dns_sd.hpp"

namespace glidemate {

// The phone side of discovery: browses for "_glidemate._tcp" and yields the
// full list of hosts on every change (an empty list when browsing fails).
// A host seen on several interfaces is listed once, by its id.
class BonjourDiscovery {
 public:
  BonjourDiscovery(asio::any_io_executor executor, DnsSd& dnsSd);

  void start();
  void stop();
  AsyncStream<std::vector<DiscoveredHost>>& hosts() { return hosts_.first; }

  // The hosts a browse result set stands for: entries with a non-empty TXT
  // "id", named by TXT "name" (else the service name), first one per id.
  static std::vector<DiscoveredHost> hostsFrom(const std::vector<DnsSdBrowseResult>& results);

  // The address and port to connect to. Throws TransportError::underlying
  // with the reason when the host cannot be resolved.
  asio::awaitable<DnsSdAddress> resolve(const DiscoveredHost& host);

 private:
  asio::any_io_executor executor_;
  DnsSd& dnsSd_;
  std::pair<AsyncStream<std::vector<DiscoveredHost>>, StreamProducer<std::vector<DiscoveredHost>>>
      hosts_;
  std::unique_ptr<DnsSd::Handle> browse_;
};

}  // namespace glidemate
