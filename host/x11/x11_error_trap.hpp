#pragma once

#include <X11/Xlib.h>

namespace glidemate::host {

// Catches the X protocol errors of the requests made while it lives, so that
// a caller can tell whether they failed. Needed around requests on windows
// of other clients, which may vanish at any moment, and keyboard mapping
// changes.
//
// Errors that no trap catches are dropped: once any trap or desktop
// connection has been made, Xlib's default handler, which ends the process,
// is replaced for good. Traps nest, per thread.
class X11ErrorTrap {
 public:
  explicit X11ErrorTrap(Display* display);
  ~X11ErrorTrap();
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

  // Waits for the server to answer everything sent so far; true if any
  // request made since the trap was set failed.
  bool failed();

  // Replaces Xlib's fatal default error handler by one that leaves errors to
  // the traps and drops the rest. Idempotent.
  static void makeErrorsHarmless();

 private:
  friend int trapError(Display*, XErrorEvent*);

  Display* display_;
  unsigned long firstSerial_;
  bool failed_ = false;
  X11ErrorTrap* outer_;
};

}  // namespace glidemate::host
