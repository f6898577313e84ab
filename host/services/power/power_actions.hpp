#pragma once

#include <asio/awaitable.hpp>

#include "kit/wire/status.hpp"

namespace glidemate::host {

// Sleeps, locks, restarts or shuts down the computer.
class PowerActions {
 public:
  virtual ~PowerActions() = default;
  // Throws AppleScriptRunner::Failure, whose text is the reason a phone is
  // shown.
  virtual asio::awaitable<void> perform(PowerAction action) = 0;
};

}  // namespace glidemate::host
