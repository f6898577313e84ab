#pragma once

#include <asio/any_io_executor.hpp>
#include <filesystem>
#include <memory>

#include "host/app/wlroots_route.hpp"
#include "host/server/host_services.hpp"
#include "host/server/user_defaults.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

class X11EventPoster;
class MutterRemoteDesktop;
class PortalRemoteDesktop;

// What this Linux desktop offers the host's services, opened once at start
// and shared by every service that needs it. Any of them may be missing.
struct DesktopFacilities {
  // The X event poster when input goes to an X display; the laser dot
  // follows and hides the cursor through it.
  X11EventPoster* x11Poster = nullptr;
  std::shared_ptr<DBusConnection> systemBus;
  // The user's session bus: media players and the desktop's own services.
  std::shared_ptr<DBusConnection> sessionBus;
  // The host's settings, where its three-finger-drag setting is kept; none:
  // three-finger drag is never mirrored.
  UserDefaults* defaults = nullptr;
  // The folder of the user's shortcut scripts; empty: no shortcuts.
  std::filesystem::path shortcuts;
  // GNOME's remote-desktop session when input goes there: the clipboard
  // is shared through it and the screen preview casts mutter's monitor,
  // instead of going through an X display (XWayland's would not show
  // what Wayland windows hold).
  MutterRemoteDesktop* mutter = nullptr;
  // Set when input goes to a wlroots compositor, whose own clipboard,
  // screen capture, windows (for presentations) and overlay (for the laser
  // dot) are then used.
  const WlrootsRoute* wlroots = nullptr;
  // The desktop portal's remote-control session when input goes there:
  // the screen preview shows its stream (XWayland's display would show X
  // windows only).
  PortalRemoteDesktop* portal = nullptr;
  // What input goes through (null: nowhere).
  EventPoster* poster = nullptr;
  // Whether this is a Wayland session (whatever the route): XWayland's
  // screen saver then turns nothing off.
  bool waylandSession = false;
};

// This program's identifier among the applications: the desktop app's entry.
inline constexpr const char* ownApplicationId = "glidemate-companion";

// The system bus, or null (said once) on a computer without one.
std::shared_ptr<DBusConnection> openSystemBus(const asio::any_io_executor& executor, Logger& logger);
// The session bus, or null (said once) outside a desktop session.
std::shared_ptr<DBusConnection> openSessionBus(const asio::any_io_executor& executor, Logger& logger);

// Builds every service this desktop can carry; each one the desktop lacks
// stays empty (one log line says why) and its commands are answered as not
// available. Shared by the headless host and the desktop app.
HostServices desktopServices(const asio::any_io_executor& executor, const DesktopFacilities& facilities,
                             Logger& logger);

}  // namespace glidemate::host
