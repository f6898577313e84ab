#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/services/catalog/application_directory.hpp"

namespace glidemate::host {

// What a top-level window says about the application it belongs to.
struct WindowIdentity {
  // _GTK_APPLICATION_ID: GTK applications' own id, their desktop-file id.
  std::string gtkApplicationId;
  // _KDE_NET_WM_DESKTOP_FILE: KDE applications' desktop-file id.
  std::string kdeDesktopFile;
  // WM_CLASS: instance and class names.
  std::string classInstance;
  std::string className;
};

// The installed application a window belongs to, by the first of these
// that names one: the GTK application id, the KDE desktop file, an entry's
// StartupWMClass equal to the window's class or instance, then the class or
// instance equal (case ignored) to an application's id or to the id's last
// dotted part ("org.gnome.Maps" for "maps").
std::optional<std::string> applicationOfWindow(const WindowIdentity& window,
                                               const std::vector<InstalledApplication>& installed);

}  // namespace glidemate::host
