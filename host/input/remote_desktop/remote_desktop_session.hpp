#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/input/screen_geometry.hpp"

namespace glidemate::host {

// What a desktop's remote-desktop session accepts: the input calls that
// GNOME's own RemoteDesktop service and the desktop portal share, with what
// the session knows of the pointer and the monitors. Sessions are created,
// started and recreated by their implementations; each call is sent at once
// and in order, without waiting for an answer, so that posting never blocks
// the main executor. Main executor only.
class RemoteDesktopSession {
 public:
  virtual ~RemoteDesktopSession() = default;

  // True while a started session takes input. Calls made otherwise are
  // dropped.
  virtual bool isReady() const = 0;
  // Counts the sessions that became ready, so that a caller can tell that
  // the one it spoke to has been replaced.
  virtual std::uint64_t generation() const = 0;
  // Tells the implementation that input is waiting; one whose session was
  // closed while the desktop stayed up tries again.
  virtual void inputWanted() = 0;

  virtual void pointerMotionRelative(double dx, double dy) = 0;
  // Places the pointer at a point of the desktop's layout. False (and
  // nothing sent) when the session has no stream to place it by.
  virtual bool pointerMotionAbsolute(ScreenPoint position) = 0;
  // `button` is a Linux input event code (BTN_LEFT, ...).
  virtual void pointerButton(std::int32_t button, bool pressed) = 0;
  // Smooth scrolling from fingers on a touchpad, in the desktop's scroll
  // units (about a pixel each; positive: down and right). `finish` marks
  // the end of the gesture.
  virtual void pointerAxis(double dx, double dy, bool finish) = 0;
  // `key` is a Linux input event code (KEY_ENTER, ...).
  virtual void keyboardKeycode(std::uint32_t key, bool pressed) = 0;
  // The desktop picks the key (and the Shift or AltGr it needs) in its
  // current layout; a keysym the layout lacks is dropped by the desktop.
  virtual void keyboardKeysym(std::uint32_t keysym, bool pressed) = 0;

  // The pointer's place in the desktop's layout, while the session's
  // stream reports it (or while it is tracked).
  virtual std::optional<ScreenPoint> pointerPosition() const = 0;
  // While something is drawn at the pointer's place in its stead (the
  // laser dot), a session that cannot report that place may make it known:
  // put the pointer at `believed` (where the host last put it, if
  // anywhere) and follow its own moves from there. Sessions whose stream
  // reports the place need not.
  virtual void trackPointer(std::optional<ScreenPoint> /*believed*/) {}
  virtual void stopTrackingPointer() {}
  // The monitors' rectangles in the desktop's layout, once known.
  virtual std::optional<std::vector<ScreenRect>> monitors() const = 0;
  // The primary monitor's refresh rate in hertz, once known.
  virtual std::optional<double> refreshRate() const = 0;
};

}  // namespace glidemate::host
