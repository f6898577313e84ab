#pragma once

#include <vector>

#include "host/input/event_poster.hpp"

namespace glidemate::host {

// Keeps every posted event instead of delivering it, and answers the queries
// from `answers`, which its owner sets freely. Posting a mouse event moves
// the recorded cursor, as posting does on a real display.
class RecordingEventPoster final : public EventPoster {
 public:
  struct Posted {
    InputEvent event;
    EventTapLocation tap;
    bool operator==(const Posted&) const = default;
  };
  struct Answers {
    bool sourcesAvailable = true;
    std::optional<ScreenPoint> cursor = ScreenPoint{};
    std::optional<std::vector<ScreenRect>> displays = std::vector<ScreenRect>{{0, 0, 1920, 1080}};
    std::optional<double> refreshRate = 60.0;
    std::chrono::duration<double> doubleClickInterval{0.5};
    bool secureInput = false;
  };

  Answers answers;

  const std::vector<Posted>& posted() const { return posted_; }
  // The posted events alone, in order.
  std::vector<InputEvent> events() const;
  void clear() { posted_.clear(); }
  bool cursorHidden() const { return cursorHidden_; }

  std::optional<EventSource> createSource(EventSourceStateId stateId) override;
  std::optional<ScreenPoint> cursorLocation() override { return answers.cursor; }
  void post(const InputEvent& event, EventTapLocation tap) override;
  std::optional<std::vector<ScreenRect>> activeDisplayBounds() override { return answers.displays; }
  std::optional<double> mainDisplayRefreshRate() override { return answers.refreshRate; }
  std::chrono::duration<double> doubleClickInterval() override { return answers.doubleClickInterval; }
  bool isSecureEventInputEnabled() override { return answers.secureInput; }
  void hideCursor() override { cursorHidden_ = true; }
  void showCursor() override { cursorHidden_ = false; }

 private:
  std::vector<Posted> posted_;
  bool cursorHidden_ = false;
};

}  // namespace glidemate::host
