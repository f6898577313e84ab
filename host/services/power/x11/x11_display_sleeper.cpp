#include "host/services/power/x11/x11_display_sleeper.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <memory>
#include <stdexcept>

namespace glidemate::host {

void X11DisplaySleeper::sleepDisplay() {
  std::unique_ptr<Display, int (*)(Display*)> display(
      XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str()), XCloseDisplay);
  if (!display) throw std::runtime_error("cannot open the X display");

  int eventBase = 0;
  int errorBase = 0;
  CARD16 level = 0;
  BOOL enabled = False;
  if (DPMSQueryExtension(display.get(), &eventBase, &errorBase) && DPMSCapable(display.get()) &&
      DPMSInfo(display.get(), &level, &enabled) && enabled) {
    DPMSForceLevel(display.get(), DPMSModeOff);
  } else {
    XForceScreenSaver(display.get(), ScreenSaverActive);
  }
  // Closing the connection flushes the request.
}

}  // namespace glidemate::host
