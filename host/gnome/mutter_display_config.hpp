#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <memory>
#include <optional>
#include <vector>

#include "host/input/screen_geometry.hpp"

namespace glidemate {
class DBusConnection;
}

namespace glidemate::host {

// The monitors as mutter lays them out (org.gnome.Mutter.DisplayConfig):
// each logical monitor's rectangle in the layout, and the primary one's
// refresh rate. Read again whenever mutter says they changed. Main
// executor only.
class MutterDisplayConfig {
 public:
  MutterDisplayConfig(const asio::any_io_executor& executor, std::shared_ptr<DBusConnection> connection);
  ~MutterDisplayConfig();
  MutterDisplayConfig(const MutterDisplayConfig&) = delete;
  MutterDisplayConfig& operator=(const MutterDisplayConfig&) = delete;

  // Reads the current state; keeps the last one when the read fails.
  asio::awaitable<void> refresh();

  std::optional<std::vector<ScreenRect>> monitors() const;
  std::optional<double> refreshRate() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace glidemate::host
