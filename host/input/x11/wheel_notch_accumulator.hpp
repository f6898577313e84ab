#pragma once

namespace glidemate::host {

// X clients scroll by wheel notches, not by points. This turns posted point
// deltas into notches, carrying the remainder to the next event so that slow
// swipes still scroll.
//
// 15 points make a notch, the distance the X libinput driver uses for a
// touchpad's scroll-wheel emulation by default, so a phone swipe scrolls as
// far as the same swipe on a Linux laptop's touchpad.
class WheelNotchAccumulator {
 public:
  static constexpr double defaultPointsPerNotch = 15.0;
  // One event never turns into more notches than this; a wild delta would
  // otherwise keep the X server busy for minutes.
  static constexpr int maxNotchesPerEvent = 100;

  struct Notches {
    int vertical;    // positive: up (content moves down)
    int horizontal;  // positive: left
    bool operator==(const Notches&) const = default;
  };

  explicit WheelNotchAccumulator(double pointsPerNotch = defaultPointsPerNotch);

  Notches add(double verticalPoints, double horizontalPoints);
  // A new gesture starts from nothing.
  void reset();

 private:
  int take(double& residual, double points) const;

  double pointsPerNotch_;
  double vertical_ = 0;  // points short of a notch
  double horizontal_ = 0;
};

}  // namespace glidemate::host
