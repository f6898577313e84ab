#include "tests/support/openbox.hpp"

#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <stdexcept>

namespace glidemate::host::testing {
namespace {

constexpr auto guard = std::chrono::seconds(30);

// Openbox names its check window on the root early in its start-up, and
// drops the requests that come before its main loop runs. It is ready once
// it answers one: asked for a window's frame extents, it sets them.
bool answersRequests(Display* display, std::chrono::steady_clock::time_point deadline) {
  const Window probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSelectInput(display, probe, PropertyChangeMask);
  const Atom request = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
  const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
  bool answered = false;
  while (!answered && std::chrono::steady_clock::now() < deadline) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = probe;
    event.xclient.message_type = request;
    event.xclient.format = 32;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
    // Asked again after a while in case this request was dropped.
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, 100);
    while (XPending(display) > 0) {
      XNextEvent(display, &event);
      answered = answered || (event.type == PropertyNotify && event.xproperty.atom == extents);
    }
  }
  XDestroyWindow(display, probe);
  return answered;
}

}  // namespace

Openbox::Openbox(const std::string& displayName) {
  char pattern[] = "/tmp/glidemate-openbox-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary folder for openbox");
  dir_ = pattern;

  process_ = std::make_unique<glidemate::testing::ChildProcess>(
      std::vector<std::string>{"openbox", "--sm-disable"},
      std::vector<std::string>{"DISPLAY=" + displayName, "HOME=" + dir_.string(),
                               "XDG_CONFIG_HOME=" + (dir_ / "config").string(),
                               "XDG_CACHE_HOME=" + (dir_ / "cache").string()});
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open display " + displayName);
  const bool ready = answersRequests(display, std::chrono::steady_clock::now() + guard);
  XCloseDisplay(display);
  if (!ready) throw std::runtime_error("openbox did not start");
}

Openbox::~Openbox() {
  process_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void Openbox::crash() {
  kill(process_->pid(), SIGKILL);
  process_->wait();
}

}  // namespace glidemate::host::testing
