#include "host/x11/x11_error.hpp"

namespace glidemate::host {
namespace {

std::string describe(const X11Error::Case& c) {
  if (const auto* open = std::get_if<X11Error::CannotOpenDisplay>(&c)) {
    if (!open->name.empty()) return "cannot open X display '" + open->name + "'";
    if (open->waylandSession) {
      return "no X display: this is a Wayland session without X, and Wayland lets no program post "
             "input to other programs' windows";
    }
    return "no X display: DISPLAY is not set";
  }
  return "the X server lacks the " + std::get<X11Error::MissingExtension>(c).name + " extension";
}

}  // namespace

X11Error::X11Error(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

}  // namespace glidemate::host
