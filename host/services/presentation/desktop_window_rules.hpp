#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kit/wire/status.hpp"

namespace glidemate::host {

// How a Linux desktop's frontmost window is read for presentations, on X11
// (by its window class) and on Wayland (by its application id) alike.
//
// LibreOffice Impress stands where Keynote and PowerPoint stand: driven by
// its own keys (F5 starts, the arrows move, Escape ends), reported as
// "Impress", playing while its active window (the slide show) is full
// screen, with no slide numbers and no notes.
class DesktopWindowRules {
 public:
  static constexpr std::string_view impress = "Impress";

  // The browser a window class or application id names (Firefox, Chromium,
  // Google Chrome, Brave, Vivaldi, Opera, Microsoft Edge, by their usual
  // names on Linux, compared without regard to ASCII case), or nothing.
  static std::optional<std::string> browserName(std::string_view identifier);
  // Whether a window class or application id is LibreOffice Impress.
  static bool isImpress(std::string_view identifier);

  // Impress's status, from whether its active window is full screen.
  static PresentationStatus impressStatus(bool isFullScreen);
  // The virtual key that carries `action` out in Impress.
  static std::uint16_t impressKey(PresentationAction action);
};

}  // namespace glidemate::host
