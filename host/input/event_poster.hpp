#pragma once

// host/input: turns the phone's pointer, scroll, key, text and gesture
// messages into synthetic input events. The services here are portable; the
// operating system is reached only through the EventPoster port (X11 in
// x11/, a recording one for tests, a logging one for dry runs).

#include <chrono>
#include <optional>
#include <vector>

#include "host/input/input_event.hpp"
#include "host/input/screen_geometry.hpp"

namespace glidemate::host {

// What the input services need of the platform's event services. Every
// operation runs on the main executor.
class EventPoster {
 public:
  virtual ~EventPoster() = default;

  // May yield nothing; events are then posted without a source.
  virtual std::optional<EventSource> createSource(EventSourceStateId stateId) = 0;
  // The live cursor location, or nothing if it can't be read.
  virtual std::optional<ScreenPoint> cursorLocation() = 0;
  // Delivers the event as if from hardware; events arrive in posting order.
  virtual void post(const InputEvent& event, EventTapLocation tap) = 0;

  // The bounds of every active display, or nothing if the query fails.
  virtual std::optional<std::vector<ScreenRect>> activeDisplayBounds() = 0;
  // The main display's refresh rate in hertz, or nothing if unknown.
  virtual std::optional<double> mainDisplayRefreshRate() = 0;
  // The user's double-click interval, read afresh on every call.
  virtual std::chrono::duration<double> doubleClickInterval() = 0;
  // True while some application has secure keyboard entry on (a password
  // field), which discards typing from other programs.
  virtual bool isSecureEventInputEnabled() = 0;

  virtual void hideCursor() = 0;
  virtual void showCursor() = 0;
};

}  // namespace glidemate::host
