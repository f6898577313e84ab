#include "tests/support/x_pointer.hpp"

#include <X11/Xlib.h>

#include <stdexcept>

namespace glidemate::testing {

struct XPointer::Connection {
  ::Display* display;
};

XPointer::XPointer(const std::string& displayName)
    : display_(new Connection{XOpenDisplay(displayName.c_str())}) {
  if (display_->display == nullptr) {
    delete display_;
    throw std::runtime_error("cannot open display " + displayName);
  }
}

XPointer::~XPointer() {
  XCloseDisplay(display_->display);
  delete display_;
}

PointerPosition XPointer::position() {
  ::Window root;
  ::Window child;
  int x = 0;
  int y = 0;
  int windowX;
  int windowY;
  unsigned mask;
  XQueryPointer(display_->display, DefaultRootWindow(display_->display), &root, &child, &x, &y,
                &windowX, &windowY, &mask);
  return {x, y};
}

void XPointer::warpTo(PointerPosition p) {
  XWarpPointer(display_->display, None, DefaultRootWindow(display_->display), 0, 0, 0, 0, p.x, p.y);
  XSync(display_->display, False);
}

}  // namespace glidemate::testing
