#include "kit/input/touch_classifier.hpp"

#include <algorithm>
#include <cmath>

namespace glidemate {

using Action = TrackpadAction;

TouchClassifier::TouchClassifier(TrackpadSettings settings) : settings_(settings) {}

void TouchClassifier::apply(const TouchSample& sample) {
  switch (sample.phase) {
    case TouchPhase::began:
      fingerDown(sample);
      break;
    case TouchPhase::moved:
      fingerMoved(sample);
      break;
    case TouchPhase::ended:
    case TouchPhase::cancelled:
      fingerUp(sample);
      break;
  }
}

std::vector<TrackpadAction> TouchClassifier::flush(double now) {
  // Hold-to-drag: a touch soon after a tap that stays down longer than a tap
  // can presses the button even before it moves.
  if (couldBecomeDrag_ && !isDragging_ && touches_.size() == 1 &&
      now - gestureStart_ > settings_.tapMaxDuration) {
    isDragging_ = true;
    drained_.push_back(Action::DragBegan{});
  }
  emitPendingMove(now);
  emitPendingScroll();
  lastFlush_ = now;
  // Copy and clear rather than move: the buffer keeps its capacity for the
  // next frame.
  std::vector<TrackpadAction> out(drained_.begin(), drained_.end());
  drained_.clear();
  return out;
}

bool TouchClassifier::isIdle() const {
  // Actions decided at the last finger up (a click, a drag's end) still have
  // to be flushed; a sender that stopped flushing here would leave the
  // button held.
  return touches_.empty() && pendingMove_.isZero() && pendingScroll_ == 0 && drained_.empty();
}

void TouchClassifier::fingerDown(const TouchSample& sample) {
  if (touches_.empty()) {
    gestureStart_ = sample.time;
    mostFingers_ = 0;
    movedBeyondTap_ = false;
    couldBecomeDrag_ = lastTapEnd_ && sample.time - *lastTapEnd_ <= settings_.dragWindow;
  }
  touches_[sample.id] = Tracked{sample.location, 0};
  const std::size_t count = touches_.size();
  mostFingers_ = std::max(mostFingers_, count);
  centroidOrigin_ = lastCentroid_ = centroid();
  centroidHistory_.clear();

  if (count >= 3) {
    systemGestureFired_ = false;
    if (restedTwoFingers_) {
      restedTwoFingers_ = false;
      scrollAxis_ = ScrollAxis::undecided;
      pendingScroll_ = 0;
      drained_.push_back(Action::Scroll{ScrollGesturePhase::cancelled, 0, 0});
    }
  } else if (count == 2 && !restedTwoFingers_) {
    restedTwoFingers_ = true;
    scrollAxis_ = ScrollAxis::undecided;
    scrollStarted_ = false;
    drained_.push_back(Action::Scroll{ScrollGesturePhase::mayBegin, 0, 0});
  }
}

void TouchClassifier::fingerMoved(const TouchSample& sample) {
  const auto found = touches_.find(sample.id);
  if (found == touches_.end()) return;
  Tracked& finger = found->second;
  const Vector delta = sample.location - finger.location;
  finger.travel += delta.length();
  finger.location = sample.location;
  if (finger.travel > settings_.tapMaxTravel) movedBeyondTap_ = true;

  const std::size_t count = touches_.size();
  if (count == 2 && mostFingers_ == 2) {
    twoFingerMotion(sample.time);
  } else if (count == 1 && mostFingers_ == 1) {
    if (couldBecomeDrag_ && !isDragging_ && movedBeyondTap_) {
      isDragging_ = true;
      drained_.push_back(Action::DragBegan{});
    }
    pendingMove_ += delta;
  } else if (!settings_.threeFingerDragEnabled) {
    if (count == 3 && mostFingers_ == 3) systemSwipe();
  } else if (count == 3 && mostFingers_ == 3) {
    threeFingerDrag();
  } else if (count == 4 && mostFingers_ == 4) {
    systemSwipe();
  }
}

void TouchClassifier::fingerUp(const TouchSample& sample) {
  if (touches_.erase(sample.id) == 0 || !touches_.empty()) return;
  if (sample.phase == TouchPhase::cancelled) {
    fingersCancelled();
  } else {
    fingersEnded(sample.time);
  }
  resetSequence();
}

void TouchClassifier::fingersCancelled() {
  pendingMove_ = {};
  pendingScroll_ = 0;
  if (restedTwoFingers_) drained_.push_back(Action::Scroll{ScrollGesturePhase::cancelled, 0, 0});
  // A cancelled touch must still let go of a held button, or the host keeps
  // it pressed into the next sequence.
  if (isDragging_) {
    isDragging_ = false;
    drained_.push_back(Action::DragEnded{});
  }
  lastTapEnd_.reset();
}

void TouchClassifier::fingersEnded(double time) {
  const bool tap = !movedBeyondTap_ && time - gestureStart_ <= settings_.tapMaxDuration;
  if (restedTwoFingers_) {
    emitPendingScroll();
    if (scrollStarted_) {
      const double velocity = releaseVelocity(time);
      const double signedVelocity = settings_.naturalScrolling ? velocity : -velocity;
      drained_.push_back(
          Action::Scroll{ScrollGesturePhase::ended, 0, signedVelocity * settings_.scrollSpeed});
      scrollStarted_ = false;
    } else {
      drained_.push_back(Action::Scroll{ScrollGesturePhase::cancelled, 0, 0});
    }
  }
  emitPendingMove(time);

  std::optional<double> tapEnd;
  if (isDragging_) {
    drained_.push_back(Action::DragEnded{});
    isDragging_ = false;
  } else if (mostFingers_ == 2 && tap) {
    drained_.push_back(Action::Click{MouseButton::right});
  } else if (mostFingers_ == 1 && tap && settings_.tapToClick) {
    drained_.push_back(Action::Click{MouseButton::left});
    tapEnd = time;
  } else if (mostFingers_ == multiTapFingers() && tap && !systemGestureFired_) {
    if (lastThreeFingerTapEnd_ && time - *lastThreeFingerTapEnd_ <= settings_.multiTapWindow) {
      drained_.push_back(Action::System{SystemGesture::appExpose});
      lastThreeFingerTapEnd_.reset();
    } else {
      lastThreeFingerTapEnd_ = time;
    }
  }
  lastTapEnd_ = tapEnd;
}

void TouchClassifier::resetSequence() {
  mostFingers_ = 0;
  movedBeyondTap_ = false;
  couldBecomeDrag_ = false;
  restedTwoFingers_ = false;
  systemGestureFired_ = false;
  scrollStarted_ = false;
  scrollAxis_ = ScrollAxis::undecided;
  pendingMove_ = {};
  pendingScroll_ = 0;
  centroidOrigin_.reset();
  lastCentroid_.reset();
  centroidHistory_.clear();
}

void TouchClassifier::twoFingerMotion(double time) {
  const auto current = centroid();
  if (!current || !lastCentroid_ || !centroidOrigin_) return;
  const Point previous = *lastCentroid_;
  lastCentroid_ = current;
  centroidHistory_.push_back({*current, time});
  const double keep = 2 * settings_.scrollVelocityWindow;
  std::erase_if(centroidHistory_,
                [&](const CentroidSample& entry) { return time - entry.time > keep; });

  switch (scrollAxis_) {
    case ScrollAxis::undecided: {
      // A dead zone first, so that a slightly diagonal start does not pick
      // the wrong axis.
      const Vector fromOrigin = *current - *centroidOrigin_;
      if (fromOrigin.length() < settings_.scrollAxisLockTravel) return;
      if (std::abs(fromOrigin.dx) <= std::abs(fromOrigin.dy)) {
        scrollAxis_ = ScrollAxis::vertical;
      } else {
        scrollAxis_ = ScrollAxis::horizontal;
        navigationSwipeCheck(*current);
      }
      return;
    }
    case ScrollAxis::horizontal:
      navigationSwipeCheck(*current);
      return;
    case ScrollAxis::vertical:
      pendingScroll_ += current->y - previous.y;
      return;
  }
}

void TouchClassifier::navigationSwipeCheck(Point current) {
  if (systemGestureFired_) return;
  const double dx = current.x - centroidOrigin_->x;
  if (std::abs(dx) < settings_.navigationSwipeTravel) return;
  systemGestureFired_ = true;
  // With natural scrolling the page follows the fingers: moving right
  // reveals the previous page.
  const bool back = (dx > 0) == settings_.naturalScrolling;
  drained_.push_back(Action::System{back ? SystemGesture::back : SystemGesture::forward});
}

void TouchClassifier::threeFingerDrag() {
  const auto current = centroid();
  if (!current || !lastCentroid_) return;
  const Point previous = *lastCentroid_;
  lastCentroid_ = current;
  if (!isDragging_) {
    isDragging_ = true;
    drained_.push_back(Action::DragBegan{});
  }
  pendingMove_ += *current - previous;
}

void TouchClassifier::systemSwipe() {
  if (systemGestureFired_) return;
  const auto current = centroid();
  if (!current || !centroidOrigin_) return;
  const Vector d = *current - *centroidOrigin_;
  if (std::max(std::abs(d.dx), std::abs(d.dy)) < settings_.systemSwipeTravel) return;
  systemGestureFired_ = true;
  SystemGesture gesture;
  if (std::abs(d.dx) <= std::abs(d.dy)) {
    gesture = d.dy < 0 ? SystemGesture::missionControl : SystemGesture::escape;
  } else {
    gesture = (d.dx >= 0) == settings_.naturalScrolling ? SystemGesture::spaceLeft
                                                         : SystemGesture::spaceRight;
  }
  drained_.push_back(Action::System{gesture});
}

void TouchClassifier::emitPendingMove(double now) {
  if (pendingMove_.isZero()) return;
  const double duration = lastFlush_ ? now - *lastFlush_ : 0;
  const Vector scaled = settings_.acceleration.scale(pendingMove_, duration);
  pendingMove_ = {};
  if (!scaled.isZero()) drained_.push_back(Action::MoveCursor{scaled.dx, scaled.dy});
}

void TouchClassifier::emitPendingScroll() {
  if (pendingScroll_ == 0) return;
  const double amount =
      (settings_.naturalScrolling ? pendingScroll_ : -pendingScroll_) * settings_.scrollSpeed;
  pendingScroll_ = 0;
  if (amount == 0) return;
  if (!scrollStarted_) {
    scrollStarted_ = true;
    drained_.push_back(Action::Scroll{ScrollGesturePhase::began, 0, 0});
  }
  drained_.push_back(Action::Scroll{ScrollGesturePhase::changed, 0, amount});
}

// Vertical centroid speed over the last scrollVelocityWindow seconds of the
// gesture, in points per second; 0 when the fingers rested before lifting.
double TouchClassifier::releaseVelocity(double now) const {
  const auto first =
      std::find_if(centroidHistory_.begin(), centroidHistory_.end(), [&](const CentroidSample& e) {
        return now - e.time <= settings_.scrollVelocityWindow;
      });
  if (first == centroidHistory_.end()) return 0;
  const CentroidSample& last = centroidHistory_.back();
  if (!(first->time < last.time)) return 0;
  return (last.point.y - first->point.y) / (last.time - first->time);
}

std::optional<Point> TouchClassifier::centroid() const {
  if (touches_.empty()) return std::nullopt;
  Point sum;
  for (const auto& [id, finger] : touches_) {
    sum.x += finger.location.x;
    sum.y += finger.location.y;
  }
  const auto count = static_cast<double>(touches_.size());
  return Point{sum.x / count, sum.y / count};
}

// Three fingers tap for App Exposé, or four when three fingers drag.
std::size_t TouchClassifier::multiTapFingers() const {
  return settings_.threeFingerDragEnabled ? 4 : 3;
}

}  // namespace glidemate
