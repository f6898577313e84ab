#include "host/input/x11/x11_error_trap.hpp"

namespace glidemate::host {
namespace {

bool trappedError = false;

int recordError(Display*, XErrorEvent*) {
  trappedError = true;
  return 0;
}

}  // namespace

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display) {
  // Errors of earlier requests belong to whoever made them.
  XSync(display_, False);
  trappedError = false;
  previous_ = XSetErrorHandler(recordError);
}

X11ErrorTrap::~X11ErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(previous_);
}

bool X11ErrorTrap::failed() {
  XSync(display_, False);
  return trappedError;
}

}  // namespace glidemate::host
