#pragma once

#include <asio/awaitable.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace glidemate::host {

// Holds off the display's idle sleep for as long as an assertion is held.
class KeepAwakeAssertions {
 public:
  virtual ~KeepAwakeAssertions() = default;
  // The new assertion's identifier, or nothing when the system refused
  // (or has no such facility). Never throws.
  virtual asio::awaitable<std::optional<std::uint32_t>> create(const std::string& name) = 0;
  // Never throws.
  virtual asio::awaitable<void> release(std::uint32_t assertion) = 0;
  // Called when the system has let go of every assertion by itself (the
  // facility went away); they need not be released then.
  virtual void onLost(std::function<void()> handler) = 0;
};

}  // namespace glidemate::host
