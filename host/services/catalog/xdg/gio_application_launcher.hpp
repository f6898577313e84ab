#pragma once

#include "host/services/catalog/application_launcher.hpp"

namespace glidemate::host {

// Opens a desktop entry with GIO, as the desktop's menus do (its Exec line,
// or D-Bus activation for entries that ask for it). The application starts
// in a session of its own, so it lives on when the host stops.
class GioApplicationLauncher final : public ApplicationLauncher {
 public:
  // Throws std::runtime_error with GIO's reason.
  asio::awaitable<void> open(const std::string& location) override;
};

}  // namespace glidemate::host
