#pragma once

#include <memory>

#include "host/input/event_poster.hpp"

namespace glidemate::host {

// Stands in for a poster that may only become available later (a display
// that was not there when the host started). Until one is attached, events
// are dropped and every query has no answer; afterwards everything goes to
// the attached poster.
class DeferredEventPoster final : public EventPoster {
 public:
  // The X double-click default, for the time before a poster can say.
  static constexpr std::chrono::milliseconds defaultDoubleClickInterval{400};

  void attach(std::unique_ptr<EventPoster> poster) { poster_ = std::move(poster); }
  bool isAttached() const { return poster_ != nullptr; }

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
  std::unique_ptr<EventPoster> poster_;
};

}  // namespace glidemate::host
