#include "host/companion/qt/sticky_window.hpp"

#include <QGuiApplication>
#include <QWidget>

// After Qt: Xlib's macros (None, Bool, ...) would clash with Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace glidemate::host {

void showOnEveryWorkspace(QWidget& window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->display() == nullptr) return;
  Display* display = x11->display();
  // _NET_WM_DESKTOP 0xFFFFFFFF: all desktops (EWMH).
  const unsigned long all = 0xFFFFFFFFUL;
  XChangeProperty(display, static_cast<Window>(window.winId()), XInternAtom(display, "_NET_WM_DESKTOP", False),
                  XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&all), 1);
  XFlush(display);
}

}  // namespace glidemate::host
