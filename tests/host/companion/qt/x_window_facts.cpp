#include "tests/host/companion/qt/x_window_facts.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdexcept>

namespace glidemate::host::testing {

struct XWindowFacts::Connection {
  Display* display;
};

XWindowFacts::XWindowFacts(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open " + displayName);
  connection_ = new Connection{display};
}

XWindowFacts::~XWindowFacts() {
  XCloseDisplay(connection_->display);
  delete connection_;
}

XWindowFacts::Point XWindowFacts::position(std::uint64_t window) {
  int x = 0;
  int y = 0;
  ::Window child = 0;
  XTranslateCoordinates(connection_->display, static_cast<::Window>(window), DefaultRootWindow(connection_->display),
                        0, 0, &x, &y, &child);
  return {x, y};
}

std::uint64_t XWindowFacts::inputFocus() {
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(connection_->display, &focus, &revert);
  return focus;
}

std::vector<std::string> XWindowFacts::netWmState(std::uint64_t window) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::vector<std::string> names;
  if (XGetWindowProperty(connection_->display, static_cast<::Window>(window),
                         XInternAtom(connection_->display, "_NET_WM_STATE", False), 0, 64, False, XA_ATOM, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr) {
    const auto* atoms = reinterpret_cast<const Atom*>(data);
    for (unsigned long i = 0; i < count; ++i) {
      char* name = XGetAtomName(connection_->display, atoms[i]);
      names.emplace_back(name);
      XFree(name);
    }
    XFree(data);
  }
  return names;
}

std::optional<std::uint32_t> XWindowFacts::desktop(std::uint64_t window) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::optional<std::uint32_t> value;
  if (XGetWindowProperty(connection_->display, static_cast<::Window>(window),
                         XInternAtom(connection_->display, "_NET_WM_DESKTOP", False), 0, 1, False, XA_CARDINAL, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr) {
    if (count == 1) value = static_cast<std::uint32_t>(*reinterpret_cast<const unsigned long*>(data));
    XFree(data);
  }
  return value;
}

bool XWindowFacts::acceptsFocus(std::uint64_t window) {
  XWMHints* hints = XGetWMHints(connection_->display, static_cast<::Window>(window));
  if (hints == nullptr) return true;
  const bool accepts = !(hints->flags & InputHint) || hints->input != False;
  XFree(hints);
  return accepts;
}

}  // namespace glidemate::host::testing
