#include "host/input/recording_event_poster.hpp"

namespace glidemate::host {

std::vector<InputEvent> RecordingEventPoster::events() const {
  std::vector<InputEvent> events;
  events.reserve(posted_.size());
  for (const auto& p : posted_) events.push_back(p.event);
  return events;
}

std::optional<EventSource> RecordingEventPoster::createSource(EventSourceStateId stateId) {
  if (!answers.sourcesAvailable) return std::nullopt;
  return EventSource{stateId};
}

void RecordingEventPoster::post(const InputEvent& event, EventTapLocation tap) {
  posted_.push_back({event, tap});
  if (const auto* mouse = std::get_if<MouseEvent>(&event)) answers.cursor = mouse->location;
}

}  // namespace glidemate::host
