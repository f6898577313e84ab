#include "host/input/deferred_event_poster.hpp"

namespace glidemate::host {

std::optional<EventSource> DeferredEventPoster::createSource(EventSourceStateId stateId) {
  return poster_ ? poster_->createSource(stateId) : std::nullopt;
}

std::optional<ScreenPoint> DeferredEventPoster::cursorLocation() {
  return poster_ ? poster_->cursorLocation() : std::nullopt;
}

void DeferredEventPoster::post(const InputEvent& event, EventTapLocation tap) {
  if (poster_) poster_->post(event, tap);
}

std::optional<std::vector<ScreenRect>> DeferredEventPoster::activeDisplayBounds() {
  return poster_ ? poster_->activeDisplayBounds() : std::nullopt;
}

std::optional<double> DeferredEventPoster::mainDisplayRefreshRate() {
  return poster_ ? poster_->mainDisplayRefreshRate() : std::nullopt;
}

std::chrono::duration<double> DeferredEventPoster::doubleClickInterval() {
  return poster_ ? poster_->doubleClickInterval() : defaultDoubleClickInterval;
}

bool DeferredEventPoster::isSecureEventInputEnabled() { return poster_ && poster_->isSecureEventInputEnabled(); }

void DeferredEventPoster::hideCursor() {
  if (poster_) poster_->hideCursor();
}

void DeferredEventPoster::showCursor() {
  if (poster_) poster_->showCursor();
}

}  // namespace glidemate::host
