#pragma once

#include <memory>

#include "host/services/power/display_sleeper.hpp"
#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {

// Turns the displays of GNOME's Wayland session off the way GNOME's own
// power settings do: mutter's display configuration's `PowerSaveMode` set
// to off, on the session bus. mutter turns them on again at the next input.
// The call is sent without waiting for its answer.
class MutterDisplaySleeper final : public DisplaySleeper {
 public:
  explicit MutterDisplaySleeper(std::shared_ptr<DBusConnection> sessionBus);

  // Throws std::runtime_error when the session bus is gone.
  void sleepDisplay() override;

 private:
  std::shared_ptr<DBusConnection> bus_;
  std::unique_ptr<sdbus::IProxy> displayConfig_;
};

}  // namespace glidemate::host
