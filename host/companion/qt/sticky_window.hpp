#pragma once

class QWidget;

namespace glidemate::host {

// Asks the window manager to show the window on every workspace. Call it
// before the window is first mapped (from its show event); does nothing
// where the platform is not X11.
void showOnEveryWorkspace(QWidget& window);

}  // namespace glidemate::host
