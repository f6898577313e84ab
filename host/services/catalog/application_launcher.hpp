#pragma once

#include <asio/awaitable.hpp>
#include <string>

namespace glidemate::host {

// Starts an installed application and brings it forward.
class ApplicationLauncher {
 public:
  virtual ~ApplicationLauncher() = default;
  // Throws with the system's reason when the application could not be
  // started.
  virtual asio::awaitable<void> open(const std::string& location) = 0;
};

}  // namespace glidemate::host
