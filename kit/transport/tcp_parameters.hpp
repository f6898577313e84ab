#pragma once

#include <chrono>

namespace glidemate {

// How every TCP connection of the transports is made: Nagle's delay off so
// that small input records leave at once, and a bounded wait for the
// connection. The LAN listener applies the same to accepted connections.
struct TcpParameters {
  bool noDelay = true;
  std::chrono::steady_clock::duration connectTimeout = std::chrono::seconds(5);
  bool operator==(const TcpParameters&) const = default;
};

}  // namespace glidemate
