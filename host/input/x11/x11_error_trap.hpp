#pragma once

#include <X11/Xlib.h>

namespace glidemate::host {

// Catches the X protocol errors of the requests made while it lives, instead
// of Xlib's default handler ending the process. Needed around requests on
// windows of other clients (which may vanish at any moment) and keyboard
// mapping changes. One at a time, on the main executor.
class X11ErrorTrap {
 public:
  explicit X11ErrorTrap(Display* display);
  ~X11ErrorTrap();
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

  // Waits for the server to answer everything sent so far; true if any of
  // it failed.
  bool failed();

 private:
  Display* display_;
  XErrorHandler previous_;
};

}  // namespace glidemate::host
