#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "host/input/event_poster.hpp"
#include "kit/wire/input_enums.hpp"

namespace glidemate::host {

// Moves the cursor by the phone's relative deltas, keeps it on the displays,
// turns moves with a held button into drags and counts repeated clicks. One
// instance serves every phone; main executor only.
class InputService {
 public:
  using Now = std::function<std::chrono::steady_clock::time_point()>;

  // A pause longer than this lets the next move start from the live cursor,
  // so a hardware mouse used in between is not undone.
  static constexpr std::chrono::milliseconds resyncAfter{200};
  // Presses closer together than this count as the same spot.
  static constexpr double clickRadius = 6.0;

  InputService(EventPoster& poster, Now now);

  void refreshBounds();
  void move(double dx, double dy);
  void button(MouseButton button, bool isDown);
  void releaseAll();

  ScreenPoint position() const { return position_; }
  // The union of the active displays; nothing until a display query succeeds.
  std::optional<ScreenRect> bounds() const { return bounds_; }

 private:
  void registerClick(MouseButton button);
  void postButton(MouseButton button, bool isDown);

  EventPoster& poster_;
  Now now_;
  std::optional<EventSource> source_;
  ScreenPoint position_;
  std::optional<std::chrono::steady_clock::time_point> lastMove_;
  bool leftDown_ = false;
  bool rightDown_ = false;
  std::optional<ScreenRect> bounds_;
  std::optional<std::chrono::steady_clock::time_point> lastClickAt_;
  std::optional<MouseButton> lastClickButton_;
  ScreenPoint lastClickPosition_;
  std::int64_t clickState_ = 1;
};

}  // namespace glidemate::host
