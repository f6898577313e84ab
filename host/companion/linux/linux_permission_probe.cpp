#include "host/companion/linux/linux_permission_probe.hpp"

#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <sdbus-c++/sdbus-c++.h>

#include "host/x11/x11_error.hpp"
#include "host/input/x11/x11_event_poster.hpp"
#include "kit/wire/overload.hpp"

namespace glidemate::host {
namespace {

bool waylandWithoutX() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display == nullptr || display[0] == '\0') && wayland != nullptr && wayland[0] != '\0';
}

std::string inputWhy(const X11Error& error) {
  return std::visit(
      Overload{
          [](const X11Error::CannotOpenDisplay& open) -> std::string {
            if (!open.name.empty()) {
              return "Glidemate cannot open the X display " + open.name +
                     ". Is its X server running, and may this user connect to it?";
            }
            if (open.waylandSession) {
              return "This is a Wayland session without X, and Wayland lets no program move the pointer or "
                     "type into other programs' windows. Glidemate needs an X session, or Xwayland with "
                     "DISPLAY set.";
            }
            return "DISPLAY is not set, so there is no X display to move the pointer on. Start Glidemate "
                   "inside your desktop session.";
          },
          [](const X11Error::MissingExtension& missing) -> std::string {
            return "The X server lacks the " + missing.name +
                   " extension, through which Glidemate moves the pointer and types.";
          },
      },
      error.which());
}

}  // namespace

PermissionProbe::Check LinuxPermissionProbe::input() {
  switch (input_.consent()) {
    case InputBackend::Consent::pending:
      return {false,
              std::string("Your desktop will ask you to allow remote control of this computer") +
                  (input_.consentRemembered() ? ", unless it remembers the answer you gave before"
                                              : " (it asks each time Glidemate starts)") +
                  ". Until you allow it, iPhones can connect but can't move the pointer or type.",
              Question::pending};
    case InputBackend::Consent::refused:
      return {false,
              "Remote control of this computer was refused in your desktop's dialog, so iPhones can connect but "
              "can't move the pointer or type until you ask again and allow it.",
              Question::refused};
    case InputBackend::Consent::none:
    case InputBackend::Consent::allowed:
      break;
  }
  if (input_.poster() != nullptr) return {true, {}};
  // A desktop that offers no way in: X would not help.
  if (!input_.refusal().empty()) return {false, input_.refusal()};
  try {
    X11EventPoster now;
  } catch (const X11Error& e) {
    return {false, inputWhy(e)};
  }
  return {false,
          "The X display can be reached now, but Glidemate opens it only when it starts: quit Glidemate and open "
          "it again."};
}

PermissionProbe::Check LinuxPermissionProbe::capture() {
  if (Display* display = XOpenDisplay(nullptr)) {
    XCloseDisplay(display);
    return {true, {}};
  }
  if (waylandWithoutX()) {
    return {false, "This is a Wayland session without X; the screen preview captures X displays only."};
  }
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || name[0] == '\0') {
    return {false, "DISPLAY is not set, so there is no X display to capture."};
  }
  return {false, std::string("Glidemate cannot open the X display ") + name + " to capture it."};
}

PermissionProbe::Check LinuxPermissionProbe::sessionBus() {
  try {
    auto connection = sdbus::createSessionBusConnection();
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    std::string id;
    bus->callMethod("GetId")
        .onInterface("org.freedesktop.DBus")
        .withTimeout(std::chrono::milliseconds(500))
        .storeResultsTo(id);
    return {true, {}};
  } catch (const sdbus::Error& e) {
    return {false, "The session bus does not answer (" + e.getMessage() +
                       "), so desktop services such as media players can't be reached."};
  }
}

}  // namespace glidemate::host
