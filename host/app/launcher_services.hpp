#pragma once

#include <asio/any_io_executor.hpp>
#include <memory>

#include "host/app/host_options.hpp"
#include "host/server/host_services.hpp"
#include "host/server/user_defaults.hpp"
#include "host/x11/x11_desktop_connection.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// What the desktop offers the launcher, power and shortcut services; any of
// them may be missing (null).
struct LinuxDesktop {
  std::shared_ptr<X11DesktopConnection> display;
  std::shared_ptr<DBusConnection> sessionBus;
  std::shared_ptr<DBusConnection> systemBus;
};

// Adds the app catalog, power, shortcuts and the three-finger-drag mirror
// as this Linux desktop can carry them out: applications from the desktop
// entries and the window manager (none without a display), power through
// logind with the screen saver's inhibition and display sleep (each missing
// part refusing on its own; no power service when all are missing), the
// user's shortcut scripts, and the host's own drag setting. Each thing the
// desktop lacks is logged once.
void addLauncherServices(HostServices& services, const asio::any_io_executor& executor, const LinuxDesktop& desktop,
                         UserDefaults& defaults, const HostFolders& folders, Logger& logger);

// This program's identifier among the applications: the desktop app's entry.
inline constexpr const char* ownApplicationId = "glidemate-companion";

}  // namespace glidemate::host
