#pragma once

#include <memory>

#include "host/services/catalog/application_switcher.hpp"
#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// Running applications as the window manager shows them: the top-level
// windows of _NET_CLIENT_LIST, each taken for the installed application it
// names (applicationOfWindow), this program's own windows left out. An
// application is ordinary when one of its windows is an ordinary one (not
// a dock, a desktop, a splash screen...).
//
// Activating asks the window manager to activate its newest window (which
// also brings it back when hidden); hiding iconifies every window of it;
// quitting asks the window manager to close each window that can be asked
// (WM_DELETE_WINDOW), as the close button does. A window that cannot be
// asked is left alone: window managers kill such clients, which is not
// what a quit is.
class X11ApplicationSwitcher final : public ApplicationSwitcher {
 public:
  explicit X11ApplicationSwitcher(std::shared_ptr<X11DesktopConnection> connection);

  std::vector<RunningApplication> list(const std::vector<InstalledApplication>& installed) override;
  bool activate(const RunningApplication& application) override;
  void hide(const RunningApplication& application) override;
  void terminate(const RunningApplication& application) override;

 private:
  bool isOurs(Window window);
  bool isOrdinary(Window window);
  bool takesDeleteRequests(Window window);
  std::string textProperty(Window window, const char* name);

  std::shared_ptr<X11DesktopConnection> connection_;
};

}  // namespace glidemate::host
