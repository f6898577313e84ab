#pragma once

#include "kit/input/pointer_acceleration.hpp"

namespace glidemate {

// The user's trackpad preferences. Times in seconds, distances in points.
struct TrackpadSettings {
  bool tapToClick = true;
  double tapMaxDuration = 0.2;   // longest touch that is still a tap
  double tapMaxTravel = 10.0;    // farthest a finger may travel in a tap
  double dragWindow = 0.3;       // after a tap, a new touch in this time can drag
  PointerAcceleration acceleration;
  bool naturalScrolling = true;  // content follows the fingers
  double scrollSpeed = 1.0;
  double scrollAxisLockTravel = 12.0;   // centroid travel before the scroll axis is chosen
  double scrollVelocityWindow = 0.06;   // history span used for the release velocity
  double systemSwipeTravel = 40.0;      // travel of a three/four-finger swipe
  double navigationSwipeTravel = 60.0;  // horizontal travel of a two-finger back/forward swipe
  double multiTapWindow = 0.4;          // gap allowed between two multi-finger taps
  bool threeFingerDragEnabled = false;  // three fingers drag; swipes then need four

  bool operator==(const TrackpadSettings&) const = default;
};

}  // namespace glidemate
