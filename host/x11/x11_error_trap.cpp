#include "host/x11/x11_error_trap.hpp"

#include <mutex>

namespace glidemate::host {
namespace {

thread_local X11ErrorTrap* innermostTrap = nullptr;

}  // namespace

// The errors of one display arrive while that display is read, on the thread
// reading it: the trap they belong to is on that thread's chain.
int trapError(Display* display, XErrorEvent* error) {
  for (X11ErrorTrap* trap = innermostTrap; trap != nullptr; trap = trap->outer_) {
    // Serials wrap at 2^32 on the wire; Xlib widens them, so a plain
    // comparison holds for any realistic run.
    if (trap->display_ == display && error->serial >= trap->firstSerial_) {
      trap->failed_ = true;
      return 0;
    }
  }
  return 0;
}

void X11ErrorTrap::makeErrorsHarmless() {
  static std::once_flag installed;
  std::call_once(installed, [] { XSetErrorHandler(trapError); });
}

X11ErrorTrap::X11ErrorTrap(Display* display)
    : display_(display), firstSerial_(NextRequest(display)), outer_(innermostTrap) {
  makeErrorsHarmless();
  innermostTrap = this;
}

X11ErrorTrap::~X11ErrorTrap() { innermostTrap = outer_; }

bool X11ErrorTrap::failed() {
  XSync(display_, False);
  return failed_;
}

}  // namespace glidemate::host
