#include "host/companion/menu_bar_icon_style.hpp"

namespace glidemate::host {

// The first rule that matches wins.
MenuBarIconStyle menuBarIconStyle(const HostSnapshot& snapshot) {
  if (!snapshot.viewers.empty()) return MenuBarIconStyle::viewing;
  if (snapshot.activeCode) return MenuBarIconStyle::pairing;
  if (snapshot.isPaused) return MenuBarIconStyle::paused;
  return MenuBarIconStyle::idle;
}

const char* accessibilityDescription(MenuBarIconStyle style) {
  switch (style) {
    case MenuBarIconStyle::idle:
      return "Glidemate Companion";
    case MenuBarIconStyle::pairing:
      return "Glidemate Companion, pairing";
    case MenuBarIconStyle::paused:
      return "Glidemate Companion, paused";
    case MenuBarIconStyle::viewing:
      return "Glidemate Companion, an iPhone is viewing the screen";
  }
  return "Glidemate Companion";
}

}  // namespace glidemate::host
