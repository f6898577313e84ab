#pragma once

#include <X11/Xlib.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/x11/x11_desktop_connection.hpp"

namespace glidemate::host {

// What the window manager tells about the desktop's windows (EWMH and
// ICCCM), read through the desktop connection, and the requests it takes
// from other clients. Every read is bounded and safe on a window that
// vanishes meanwhile (it then reads as absent); with no window manager
// running there is no active window and no client list.
class Ewmh {
 public:
  // Titles longer than this are cut (at a character boundary).
  static constexpr std::size_t maxTitleBytes = 4096;
  // The most windows read from the client list.
  static constexpr std::size_t maxClients = 4096;

  struct WindowClass {
    std::string instance;
    std::string name;
    bool operator==(const WindowClass&) const = default;
  };

  explicit Ewmh(X11DesktopConnection& connection) : connection_(connection) {}

  // True while an EWMH window manager runs: the root names a check window
  // that names itself.
  bool hasWindowManager();
  // The window with the keyboard focus, as the window manager reports it.
  std::optional<Window> activeWindow();
  // The managed windows, oldest first.
  std::vector<Window> clientList();

  // WM_CLASS; nothing for a window without one.
  std::optional<WindowClass> windowClass(Window window);
  // _NET_WM_NAME, else WM_NAME, as well-formed UTF-8 (ill-formed bytes read
  // as U+FFFD; a Latin-1 WM_NAME is converted).
  std::optional<std::string> title(Window window);
  // The _NET_WM_STATE atoms.
  std::vector<Atom> state(Window window);
  bool isFullScreen(Window window);

  // Sends the window manager a request about `window`, as a 32-bit client
  // message of `type` to the root window.
  void sendToRoot(Window window, Atom type, const std::array<long, 5>& data);

 private:
  std::optional<Window> windowProperty(Window window, Atom property);

  X11DesktopConnection& connection_;
};

}  // namespace glidemate::host
