#include "tests/support/openbox_session.hpp"

#include <X11/Xlib.h>

#include <stdexcept>

namespace glidemate::testing {
namespace {

bool managed(Display* display, Atom check) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType,
                                        &type, &format, &count, &after, &data) == Success &&
                     count == 1;
  if (data != nullptr) XFree(data);
  return found;
}

}  // namespace

OpenboxSession::OpenboxSession(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open " + displayName);
  // Heard before openbox starts, so that its announcement is not missed.
  XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  openbox_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"openbox", "--sm-disable"},
      // Openbox's own defaults, whatever the user running the tests set up.
      std::vector<std::string>{"DISPLAY=" + displayName, "XDG_CONFIG_HOME=/nonexistent"});
  // The window manager is ready once it announces itself on the root.
  while (!managed(display, check)) {
    XEvent event;
    XNextEvent(display, &event);
  }
  XCloseDisplay(display);
}

}  // namespace glidemate::testing
