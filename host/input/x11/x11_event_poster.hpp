#pragma once

#include <memory>
#include <string>

#include "host/input/event_poster.hpp"

namespace glidemate::host {

// Posts input events to an X server with the XTest extension and reads the
// displays with XRandR: the poster for Linux desktops.
//
// What does not carry over from the system's events:
// - Click counts: X clients count multiple clicks themselves from the
//   timing and place of presses, so the click-state field is not sent.
// - Phased, pixel-precise scrolling: XTest only presses wheel buttons, so
//   point deltas become notches (WheelNotchAccumulator), 4/5 vertical and
//   6/7 horizontal; momentum events keep scrolling the same way.
// - Text: each character is typed by its keysym, on a spare keycode when the
//   keymap lacks it (SpareKeycodePool).
// - Secure input: no X client can tell that a password field has focus; a
//   keyboard grab held by another client (screen lockers, password prompts)
//   is taken as the same thing.
class X11EventPoster final : public EventPoster {
 public:
  // `displayName` empty means the DISPLAY environment variable. Throws
  // X11Error when the display can't be opened or lacks XTest.
  explicit X11EventPoster(const std::string& displayName = {},
                          double pointsPerNotch = 15.0);
  ~X11EventPoster() override;
  X11EventPoster(const X11EventPoster&) = delete;
  X11EventPoster& operator=(const X11EventPoster&) = delete;

  std::optional<EventSource> createSource(EventSourceStateId stateId) override;
  std::optional<ScreenPoint> cursorLocation() override;
  void post(const InputEvent& event, EventTapLocation tap) override;
  std::optional<std::vector<ScreenRect>> activeDisplayBounds() override;
  std::optional<double> mainDisplayRefreshRate() override;
  std::chrono::duration<double> doubleClickInterval() override;
  bool isSecureEventInputEnabled() override;
  void hideCursor() override;
  void showCursor() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace glidemate::host
