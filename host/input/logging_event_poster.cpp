#include "host/input/logging_event_poster.hpp"

#include <ostream>

namespace glidemate::host {

LoggingEventPoster::LoggingEventPoster(std::ostream& out, ScreenRect display)
    : out_(out), display_(display), cursor_{display.x, display.y} {}

std::optional<EventSource> LoggingEventPoster::createSource(EventSourceStateId stateId) {
  return EventSource{stateId};
}

void LoggingEventPoster::post(const InputEvent& event, EventTapLocation) {
  if (const auto* mouse = std::get_if<MouseEvent>(&event)) cursor_ = mouse->location;
  out_ << "input: " << describe(event) << std::endl;
}

std::optional<std::vector<ScreenRect>> LoggingEventPoster::activeDisplayBounds() {
  return std::vector<ScreenRect>{display_};
}

std::chrono::duration<double> LoggingEventPoster::doubleClickInterval() {
  return std::chrono::milliseconds(400);
}

void LoggingEventPoster::hideCursor() { out_ << "input: hide cursor" << std::endl; }
void LoggingEventPoster::showCursor() { out_ << "input: show cursor" << std::endl; }

}  // namespace glidemate::host
