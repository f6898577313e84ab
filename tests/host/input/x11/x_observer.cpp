#include "x_observer.hpp"

#include <poll.h>

#include <chrono>
#include <stdexcept>

namespace glidemate::host::testing {

XObserver::XObserver(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) {
  if (display_ == nullptr) throw std::runtime_error("cannot open " + displayName);
  const int screen = DefaultScreen(display_);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                          KeyReleaseMask | StructureNotifyMask;
  window_ = XCreateWindow(display_, RootWindow(display_, screen), 0, 0,
                          static_cast<unsigned>(DisplayWidth(display_, screen)),
                          static_cast<unsigned>(DisplayHeight(display_, screen)), 0, CopyFromParent, InputOutput,
                          CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
  XMapRaised(display_, window_);
  if (!waitForType(MapNotify)) throw std::runtime_error("the test window was not mapped");
  XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
  XSync(display_, False);
}

XObserver::~XObserver() {
  XDestroyWindow(display_, window_);
  XCloseDisplay(display_);
}

std::optional<XEvent> XObserver::waitFor(const std::function<bool(const XEvent&)>& accept) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
      if (accept(event)) return event;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd fd{ConnectionNumber(display_), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
  }
}

}  // namespace glidemate::host::testing
