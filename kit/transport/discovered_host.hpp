#pragma once

#include <string>

#include "kit/transport/dns_sd.hpp"

namespace glidemate {

// A host found on the local network: its stable id and display name from
// the TXT record, and the service to resolve when connecting.
struct DiscoveredHost {
  std::string id;
  std::string name;
  DnsSdService endpoint;
  bool operator==(const DiscoveredHost&) const = default;
};

}  // namespace glidemate

template <>
struct std::hash<glidemate::DiscoveredHost> {
  std::size_t operator()(const glidemate::DiscoveredHost& h) const noexcept {
    return std::hash<std::string>{}(h.id) ^ (std::hash<std::string>{}(h.endpoint.name) << 1);
  }
};
