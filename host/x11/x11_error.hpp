#pragma once

#include <stdexcept>
#include <string>
#include <variant>

namespace glidemate::host {

// Why an X11 piece of the host (the event poster, the desktop connection)
// can't work with a display.
class X11Error : public std::runtime_error {
 public:
  struct CannotOpenDisplay {
    std::string name;  // empty: no display was named, DISPLAY is unset
    // A Wayland session was found (WAYLAND_DISPLAY) where X was not.
    bool waylandSession = false;
    bool operator==(const CannotOpenDisplay&) const = default;
  };
  struct MissingExtension {
    std::string name;
    bool operator==(const MissingExtension&) const = default;
  };
  using Case = std::variant<CannotOpenDisplay, MissingExtension>;

  explicit X11Error(Case c);

  static X11Error cannotOpenDisplay(std::string name, bool waylandSession = false) {
    return X11Error(CannotOpenDisplay{std::move(name), waylandSession});
  }
  static X11Error missingExtension(std::string name) { return X11Error(MissingExtension{std::move(name)}); }

  const Case& which() const { return case_; }
  friend bool operator==(const X11Error& a, const X11Error& b) { return a.case_ == b.case_; }

 private:
  Case case_;
};

}  // namespace glidemate::host
