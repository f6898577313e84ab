#pragma once

#include <memory>
#include <string>

#include "host/services/power/power_actions.hpp"
#include "kit/dbus/dbus_connection.hpp"

namespace glidemate::host {

// Power actions through systemd-logind on the system bus: Suspend, Reboot
// and PowerOff without interactive authorisation (a user who may not do it
// gets logind's refusal), and locking through the Lock of the user's
// session. A D-Bus error becomes a failure whose text is the error's.
class LogindPowerActions final : public PowerActions {
 public:
  // `session` names the session to lock: the session id of the host's
  // login ($XDG_SESSION_ID) or "auto", logind's name for the caller's.
  LogindPowerActions(std::shared_ptr<DBusConnection> systemBus, std::string session);

  asio::awaitable<void> perform(PowerAction action) override;

 private:
  asio::awaitable<void> lock();

  std::shared_ptr<DBusConnection> bus_;
  std::string session_;
  std::unique_ptr<sdbus::IProxy> manager_;
};

}  // namespace glidemate::host
