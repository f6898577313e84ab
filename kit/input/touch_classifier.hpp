#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "kit/input/point.hpp"
#include "kit/input/touch_sample.hpp"
#include "kit/input/trackpad_action.hpp"
#include "kit/input/trackpad_settings.hpp"

namespace glidemate {

// The touch side's trackpad logic, shipped in the library so that a phone
// (or the command-line phone replaying a recorded trace) produces exactly
// what the host expects; the host itself never runs it.
//
// Turns multi-touch samples into trackpad actions: accelerated cursor moves,
// taps and two-finger right clicks, tap-and-drag and hold-to-drag,
// three-finger drag, two-finger scrolling with phases and release velocity,
// navigation swipes, three/four-finger system swipes and double taps.
//
// A plain value: it owns no thread, timer or clock. Time arrives with every
// sample and every flush, and actions wait until the next flush, which the
// sender calls at its frame rate.
class TouchClassifier {
 public:
  explicit TouchClassifier(TrackpadSettings settings = {});

  const TrackpadSettings& settings() const { return settings_; }
  void setSettings(const TrackpadSettings& settings) { settings_ = settings; }

  // Samples for fingers that are not being tracked (a move or lift without a
  // matching touch-down) are ignored.
  void apply(const TouchSample& sample);

  // Everything decided since the previous flush, with the cursor movement
  // gathered since then accelerated by its speed over that interval.
  std::vector<TrackpadAction> flush(double now);

  // No finger down and nothing waiting to be flushed: the sender may stop
  // calling flush until the next touch.
  bool isIdle() const;

 private:
  enum class ScrollAxis : std::uint8_t { undecided, vertical, horizontal };
  struct Tracked {
    Point location;
    double travel = 0;  // total path length
  };
  struct CentroidSample {
    Point point;
    double time;
  };

  void fingerDown(const TouchSample& sample);
  void fingerMoved(const TouchSample& sample);
  void fingerUp(const TouchSample& sample);
  void fingersCancelled();
  void fingersEnded(double time);
  void resetSequence();

  void twoFingerMotion(double time);
  void navigationSwipeCheck(Point centroid);
  void threeFingerDrag();
  void systemSwipe();

  void emitPendingMove(double now);
  void emitPendingScroll();
  double releaseVelocity(double now) const;
  std::optional<Point> centroid() const;
  std::size_t multiTapFingers() const;

  TrackpadSettings settings_;
  std::map<std::int64_t, Tracked> touches_;
  Vector pendingMove_;
  std::vector<TrackpadAction> drained_;
  ScrollAxis scrollAxis_ = ScrollAxis::undecided;
  bool scrollStarted_ = false;     // a scroll `began` has been emitted
  bool restedTwoFingers_ = false;  // a scroll gesture is open
  double pendingScroll_ = 0;       // vertical only: horizontal scrolling is never produced
  std::optional<Point> centroidOrigin_;  // where the current finger count was set
  std::optional<Point> lastCentroid_;
  std::vector<CentroidSample> centroidHistory_;
  bool systemGestureFired_ = false;  // one system or navigation gesture per sequence
  std::optional<double> lastThreeFingerTapEnd_;
  double gestureStart_ = 0;  // first finger down
  std::size_t mostFingers_ = 0;
  bool movedBeyondTap_ = false;
  bool couldBecomeDrag_ = false;
  bool isDragging_ = false;
  std::optional<double> lastTapEnd_;  // end of the last one-finger tap click
  std::optional<double> lastFlush_;
};

}  // namespace glidemate
