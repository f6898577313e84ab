#pragma once

#include <chrono>
#include <string>

#include "kit/transport/transport_kind.hpp"

namespace glidemate::host {

// A phone with an established session, as the host's lists show it.
struct ConnectedPeer {
  std::string id;
  std::string name;
  TransportKind transport;
  std::chrono::system_clock::time_point connectedAt;
  bool operator==(const ConnectedPeer&) const = default;
};

}  // namespace glidemate::host
