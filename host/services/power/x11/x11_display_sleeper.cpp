#include "host/services/power/x11/x11_display_sleeper.hpp"

#include <X11/extensions/dpms.h>

namespace glidemate::host {

void X11DisplaySleeper::sleepDisplay() {
  Display* display = connection_->display();
  int eventBase = 0;
  int errorBase = 0;
  CARD16 level = 0;
  BOOL enabled = False;
  if (DPMSQueryExtension(display, &eventBase, &errorBase) && DPMSCapable(display) &&
      DPMSInfo(display, &level, &enabled) && enabled) {
    DPMSForceLevel(display, DPMSModeOff);
  } else {
    XForceScreenSaver(display, ScreenSaverActive);
  }
  connection_->flush();
}

}  // namespace glidemate::host
