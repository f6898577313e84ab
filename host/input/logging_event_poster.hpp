#pragma once

#include <iosfwd>

#include "host/input/event_poster.hpp"

namespace glidemate::host {

// Prints one line per event instead of posting it: a dry run that needs no
// display. It pretends to have one display of the given size; the cursor is
// wherever the last mouse event put it.
class LoggingEventPoster final : public EventPoster {
 public:
  explicit LoggingEventPoster(std::ostream& out, ScreenRect display = {0, 0, 1920, 1080});

  std::optional<EventSource> createSource(EventSourceStateId stateId) override;
  std::optional<ScreenPoint> cursorLocation() override { return cursor_; }
  void post(const InputEvent& event, EventTapLocation tap) override;
  std::optional<std::vector<ScreenRect>> activeDisplayBounds() override;
  std::optional<double> mainDisplayRefreshRate() override { return 60.0; }
  std::chrono::duration<double> doubleClickInterval() override;
  bool isSecureEventInputEnabled() override { return false; }
  void hideCursor() override;
  void showCursor() override;

 private:
  std::ostream& out_;
  ScreenRect display_;
  ScreenPoint cursor_;
};

}  // namespace glidemate::host
