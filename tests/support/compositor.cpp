#include "tests/support/compositor.hpp"

#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <stdexcept>

namespace glidemate::host::testing {

Compositor::Compositor(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open display " + displayName);
  process_ = std::make_unique<glidemate::testing::ChildProcess>(std::vector<std::string>{"xcompmgr"},
                                                                 std::vector<std::string>{"DISPLAY=" + displayName});
  const Atom selection = XInternAtom(display, "_NET_WM_CM_S0", False);
  // Asked again now and then; the limit only keeps a broken setup from
  // hanging.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool ready = false;
  while (!ready && std::chrono::steady_clock::now() < deadline) {
    ready = XGetSelectionOwner(display, selection) != None;
    if (!ready) poll(nullptr, 0, 20);
  }
  XCloseDisplay(display);
  if (!ready) throw std::runtime_error("xcompmgr did not start");
}

}  // namespace glidemate::host::testing
