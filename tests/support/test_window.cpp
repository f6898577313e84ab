#include "tests/support/test_window.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <poll.h>

#include <chrono>
#include <deque>
#include <stdexcept>

namespace glidemate::host::testing {
namespace {

constexpr auto guard = std::chrono::seconds(30);

}  // namespace

struct TestWindow::Client {
  Display* display = nullptr;
  Window window = 0;
  std::deque<XEvent> keys;
  std::deque<XEvent> clicks;

  Atom atom(const char* name) const { return XInternAtom(display, name, False); }

  void take(const XEvent& event) {
    if (event.type == KeyPress) keys.push_back(event);
    if (event.type == ButtonPress) clicks.push_back(event);
  }

  // Reads what has come; with `block`, waits a little for more first.
  void pump(bool block) {
    if (block && XPending(display) == 0) {
      pollfd fd{ConnectionNumber(display), POLLIN, 0};
      poll(&fd, 1, 50);
    }
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      take(event);
    }
  }

  std::optional<Window> windowProperty(Window on, const char* name) const {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, on, atom(name), 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data);
    std::optional<Window> value;
    if (data != nullptr && count == 1) value = reinterpret_cast<unsigned long*>(data)[0];
    if (data != nullptr) XFree(data);
    return value;
  }

  void toRoot(const char* type, long a, long b, long c) const {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = atom(type);
    event.xclient.format = 32;
    event.xclient.data.l[0] = a;
    event.xclient.data.l[1] = b;
    event.xclient.data.l[2] = c;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
  }
};

TestWindow::TestWindow(const std::string& displayName, const Options& options)
    : client_(std::make_unique<Client>()) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) throw std::runtime_error("cannot open display " + displayName);
  client_->display = display;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = options.background;
  attributes.event_mask = KeyPressMask | ButtonPressMask | StructureNotifyMask | PropertyChangeMask | ExposureMask;
  client_->window = XCreateWindow(display, DefaultRootWindow(display), options.x, options.y,
                                  static_cast<unsigned>(options.width), static_cast<unsigned>(options.height), 0,
                                  CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attributes);
  const Window window = client_->window;
  // A cursor of its own: Xvfb draws it into the screen (the root window's
  // default one is blank).
  XDefineCursor(display, window, XCreateFontCursor(display, XC_crosshair));
  if (options.windowClass) {
    // Two strings each ended by a NUL, set byte for byte.
    std::string value = options.windowClass->first + '\0' + options.windowClass->second + '\0';
    XChangeProperty(display, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
  }
  if (options.netWmName) {
    XChangeProperty(display, window, client_->atom("_NET_WM_NAME"), client_->atom("UTF8_STRING"), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(options.netWmName->data()),
                    static_cast<int>(options.netWmName->size()));
  }
  if (options.wmName) {
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(options.wmName->data()),
                    static_cast<int>(options.wmName->size()));
  }
  // Where the test put it, not where the window manager would.
  XSizeHints hints{};
  hints.flags = USPosition | USSize;
  hints.x = options.x;
  hints.y = options.y;
  hints.width = options.width;
  hints.height = options.height;
  XSetWMNormalHints(display, window, &hints);
  XMapWindow(display, window);
  XSync(display, False);
  if (!waitUntil([this] { return isViewable(); })) throw std::runtime_error("the test window was not mapped");
}

TestWindow::~TestWindow() { XCloseDisplay(client_->display); }

unsigned long TestWindow::id() const { return client_->window; }

void TestWindow::activate() {
  // Source 2: a pager, which window managers obey without question.
  client_->toRoot("_NET_ACTIVE_WINDOW", 2, CurrentTime, 0);
}

void TestWindow::requestFullScreen() {
  client_->toRoot("_NET_WM_STATE", 1, static_cast<long>(client_->atom("_NET_WM_STATE_FULLSCREEN")), 0);
}

void TestWindow::destroy() {
  XDestroyWindow(client_->display, client_->window);
  XSync(client_->display, False);
}

bool TestWindow::waitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  client_->pump(false);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    client_->pump(true);
  }
  return true;
}

bool TestWindow::isActive() {
  return client_->windowProperty(DefaultRootWindow(client_->display), "_NET_ACTIVE_WINDOW") == client_->window;
}

bool TestWindow::isFullScreen() {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(client_->display, client_->window, client_->atom("_NET_WM_STATE"), 0, 64, False, XA_ATOM,
                     &type, &format, &count, &after, &data);
  bool found = false;
  const Atom fullScreen = client_->atom("_NET_WM_STATE_FULLSCREEN");
  for (unsigned long i = 0; data != nullptr && i < count; ++i) {
    found = found || reinterpret_cast<Atom*>(data)[i] == fullScreen;
  }
  if (data != nullptr) XFree(data);
  return found;
}

bool TestWindow::isViewable() {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(client_->display, client_->window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

std::optional<unsigned long> TestWindow::nextKeyPress() {
  if (!waitUntil([this] { return !client_->keys.empty(); })) return std::nullopt;
  XEvent event = client_->keys.front();
  client_->keys.pop_front();
  return XLookupKeysym(&event.xkey, 0);
}

std::optional<std::pair<int, int>> TestWindow::nextButtonPress() {
  if (!waitUntil([this] { return !client_->clicks.empty(); })) return std::nullopt;
  const XEvent event = client_->clicks.front();
  client_->clicks.pop_front();
  return std::pair{event.xbutton.x, event.xbutton.y};
}

}  // namespace glidemate::host::testing
