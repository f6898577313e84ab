#pragma once

#include <stdexcept>
#include <string>
#include <variant>

namespace glidemate::host {

// Why the screen can't be captured, or can't be any more.
class ScreenCaptureError : public std::runtime_error {
 public:
  // No display server to capture from (none running, none reachable, or a
  // desktop whose capture this host does not speak).
  struct CannotConnect {
    std::string display;  // empty: the default one
    bool operator==(const CannotConnect&) const = default;
  };
  struct MissingExtension {
    std::string name;
    bool operator==(const MissingExtension&) const = default;
  };
  // Pixels this host can't read directly (only 32-bit BGRX is read).
  struct UnsupportedPixelFormat {
    int depth;
    int bitsPerPixel;
    bool operator==(const UnsupportedPixelFormat&) const = default;
  };
  // The display server went away during the capture.
  struct DisplayLost {
    bool operator==(const DisplayLost&) const = default;
  };
  // A compositor that shares its screen on request (a screen cast) said
  // no, or did not answer.
  struct Refused {
    std::string reason;
    bool operator==(const Refused&) const = default;
  };
  using Case = std::variant<CannotConnect, MissingExtension, UnsupportedPixelFormat, DisplayLost, Refused>;

  explicit ScreenCaptureError(Case c);

  static ScreenCaptureError cannotConnect(std::string display) { return ScreenCaptureError(CannotConnect{std::move(display)}); }
  static ScreenCaptureError missingExtension(std::string name) { return ScreenCaptureError(MissingExtension{std::move(name)}); }
  static ScreenCaptureError displayLost() { return ScreenCaptureError(DisplayLost{}); }
  static ScreenCaptureError refused(std::string reason) { return ScreenCaptureError(Refused{std::move(reason)}); }

  const Case& which() const { return case_; }
  friend bool operator==(const ScreenCaptureError& a, const ScreenCaptureError& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

}  // namespace glidemate::host
