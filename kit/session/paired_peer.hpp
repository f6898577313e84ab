#pragma once

#include <chrono>
#include <string>

namespace glidemate {

// A phone that has paired with this host, as the key store keeps it.
struct PairedPeer {
  std::string id;
  std::string name;
  std::chrono::system_clock::time_point pairedAt;
  std::chrono::system_clock::time_point lastSeen;
  bool operator==(const PairedPeer&) const = default;
};

}  // namespace glidemate

template <>
struct std::hash<glidemate::PairedPeer> {
  std::size_t operator()(const glidemate::PairedPeer& p) const noexcept {
    return std::hash<std::string>{}(p.id) ^ (std::hash<std::string>{}(p.name) << 1) ^
           static_cast<std::size_t>(p.pairedAt.time_since_epoch().count()) ^
           (static_cast<std::size_t>(p.lastSeen.time_since_epoch().count()) << 2);
  }
};
