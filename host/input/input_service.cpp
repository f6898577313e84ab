#include "host/input/input_service.hpp"

#include <cmath>

namespace glidemate::host {
namespace {

// The delta fields are 64-bit integers: a delta that is not finite or whose
// rounded value does not fit can't be written, and the move is dropped.
std::optional<std::int64_t> roundedDelta(double delta) {
  if (!std::isfinite(delta)) return std::nullopt;
  const double rounded = std::round(delta);  // halves away from zero
  if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0) return std::nullopt;
  return static_cast<std::int64_t>(rounded);
}

EventMouseButton eventButton(MouseButton button) {
  return button == MouseButton::right ? EventMouseButton::right : EventMouseButton::left;
}

}  // namespace

InputService::InputService(EventPoster& poster, Now now)
    : poster_(poster),
      now_(std::move(now)),
      source_(poster.createSource(EventSourceStateId::hidSystemState)),
      position_(poster.cursorLocation().value_or(ScreenPoint{})) {
  refreshBounds();
}

void InputService::refreshBounds() {
  const auto displays = poster_.activeDisplayBounds();
  if (!displays || displays->empty()) return;
  ScreenRect united = displays->front();
  for (const auto& display : *displays) united = united.united(display);
  bounds_ = united;
}

void InputService::move(double dx, double dy) {
  const auto deltaX = roundedDelta(dx);
  const auto deltaY = roundedDelta(dy);
  if (!deltaX || !deltaY) return;

  const auto now = now_();
  if (!lastMove_ || now - *lastMove_ > resyncAfter) {
    if (const auto live = poster_.cursorLocation()) position_ = *live;
  }
  lastMove_ = now;

  double x = position_.x + dx;
  double y = position_.y + dy;
  if (bounds_) {
    // One point inside the right and bottom edges: the last pixel is the
    // last place the cursor can be.
    x = std::min(std::max(x, bounds_->minX()), bounds_->maxX() - 1);
    y = std::min(std::max(y, bounds_->minY()), bounds_->maxY() - 1);
  }
  position_ = {x, y};

  MouseEvent event{source_,
                   leftDown_    ? EventType::leftMouseDragged
                   : rightDown_ ? EventType::rightMouseDragged
                                : EventType::mouseMoved,
                   position_,
                   rightDown_ ? EventMouseButton::right : EventMouseButton::left,
                   {}};
  event.integerFields.set(EventField::mouseEventDeltaX, *deltaX);
  event.integerFields.set(EventField::mouseEventDeltaY, *deltaY);
  poster_.post(event, EventTapLocation::hid);
}

void InputService::button(MouseButton button, bool isDown) {
  (button == MouseButton::left ? leftDown_ : rightDown_) = isDown;
  // A release keeps the count of the press before it.
  if (isDown) registerClick(button);
  postButton(button, isDown);
}

void InputService::releaseAll() {
  for (const auto button : {MouseButton::left, MouseButton::right}) {
    bool& held = button == MouseButton::left ? leftDown_ : rightDown_;
    if (!held) continue;
    held = false;
    postButton(button, false);
  }
}

void InputService::registerClick(MouseButton button) {
  const auto now = now_();
  const auto interval = poster_.doubleClickInterval();
  const bool repeated = lastClickButton_ == button && lastClickAt_ && now - *lastClickAt_ <= interval &&
                        std::hypot(position_.x - lastClickPosition_.x, position_.y - lastClickPosition_.y) <
                            clickRadius;
  clickState_ = repeated ? clickState_ + 1 : 1;
  lastClickAt_ = now;
  lastClickButton_ = button;
  lastClickPosition_ = position_;
}

void InputService::postButton(MouseButton button, bool isDown) {
  const bool left = button == MouseButton::left;
  const EventType type = isDown ? (left ? EventType::leftMouseDown : EventType::rightMouseDown)
                                : (left ? EventType::leftMouseUp : EventType::rightMouseUp);
  MouseEvent event{source_, type, position_, eventButton(button), {}};
  event.integerFields.set(EventField::mouseEventClickState, clickState_);
  poster_.post(event, EventTapLocation::hid);
}

}  // namespace glidemate::host
