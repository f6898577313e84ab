#include "host/x11/x11_error.hpp"

namespace glidemate::host {
namespace {

std::string describe(const X11Error::Case& c) {
  if (const auto* open = std::get_if<X11Error::CannotOpenDisplay>(&c)) {
    return "cannot open X display '" + (open->name.empty() ? std::string("$DISPLAY") : open->name) + "'";
  }
  return "the X server lacks the " + std::get<X11Error::MissingExtension>(c).name + " extension";
}

}  // namespace

X11Error::X11Error(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

}  // namespace glidemate::host
