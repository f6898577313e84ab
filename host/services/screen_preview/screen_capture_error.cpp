#include "host/services/screen_preview/screen_capture_error.hpp"

#include "kit/wire/overload.hpp"

namespace glidemate::host {
namespace {

std::string describe(const ScreenCaptureError::Case& c) {
  return std::visit(
      Overload{
          [](const ScreenCaptureError::CannotConnect& e) {
            return "cannot connect to the display '" + (e.display.empty() ? std::string("$DISPLAY") : e.display) + "'";
          },
          [](const ScreenCaptureError::MissingExtension& e) {
            return "the display server lacks the " + e.name + " extension";
          },
          [](const ScreenCaptureError::UnsupportedPixelFormat& e) {
            return "the display's pixels (depth " + std::to_string(e.depth) + ", " + std::to_string(e.bitsPerPixel) +
                   " bits per pixel) are not 32-bit BGRX";
          },
          [](const ScreenCaptureError::DisplayLost&) { return std::string("the display server went away"); },
          [](const ScreenCaptureError::Refused& e) { return "the desktop would not share its screen: " + e.reason; },
      },
      c);
}

}  // namespace

ScreenCaptureError::ScreenCaptureError(Case c) : std::runtime_error(describe(c)), case_(std::move(c)) {}

}  // namespace glidemate::host
