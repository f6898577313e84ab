// Test helper: a second X client with a window covering the screen, which
// receives what the poster sends and reads it back.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <optional>
#include <string>

namespace glidemate::host::testing {

class XObserver {
 public:
  explicit XObserver(const std::string& displayName);
  ~XObserver();
  XObserver(const XObserver&) = delete;
  XObserver& operator=(const XObserver&) = delete;

  Display* display() const { return display_; }
  Window window() const { return window_; }

  // The next event the predicate accepts; earlier ones are dropped. Keymap
  // changes are applied on the way, as a real client would. Nothing if none
  // comes: the limit only keeps a broken test from hanging.
  std::optional<XEvent> waitFor(const std::function<bool(const XEvent&)>& accept);
  std::optional<XEvent> waitForType(int type) {
    return waitFor([type](const XEvent& e) { return e.type == type; });
  }

 private:
  Display* display_;
  Window window_;
};

}  // namespace glidemate::host::testing
