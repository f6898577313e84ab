#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kit/input/pointer_acceleration.hpp"

namespace glidemate {
namespace {

struct ScaleCase {
  std::string name;
  PointerAcceleration curve;
  Vector delta;
  double duration;
  Vector expected;
};

PointerAcceleration trackingSpeed(double speed) {
  PointerAcceleration curve;
  curve.trackingSpeed = speed;
  return curve;
}

// min == max: a step instead of a division by zero.
PointerAcceleration stepAt500() {
  PointerAcceleration curve;
  curve.minimumSpeed = 500;
  curve.maximumSpeed = 500;
  return curve;
}

TEST(PointerAcceleration, GainFollowsSpeed) {
  const std::vector<ScaleCase> cases{
      {"below the minimum speed: unaccelerated", {}, {2, 0}, 1.0 / 60, {2, 0}},
      {"halfway between the speeds: halfway gain", {}, {267, -356}, 0.5, {480.6, -640.8}},
      {"above the maximum speed: maximum gain", {}, {30, 40}, 0.01, {78, 104}},
      {"no duration: base gain", {}, {30, 40}, 0, {30, 40}},
      {"negative duration: base gain", {}, {30, 40}, -0.01, {30, 40}},
      {"tracking speed scales a slow move", trackingSpeed(2), {2, 0}, 1.0 / 60, {4, 0}},
      {"tracking speed scales a fast move", trackingSpeed(2), {30, 40}, 0.01, {156, 208}},
      {"nothing stays nothing", {}, {0, 0}, 0.01, {0, 0}},
      {"an empty speed range below its step", stepAt500(), {4, 0}, 0.01, {4, 0}},
      {"an empty speed range at its step", stepAt500(), {5, 0}, 0.01, {13, 0}},
  };
  for (const auto& c : cases) {
    const Vector scaled = c.curve.scale(c.delta, c.duration);
    EXPECT_NEAR(scaled.dx, c.expected.dx, 1e-9) << c.name;
    EXPECT_NEAR(scaled.dy, c.expected.dy, 1e-9) << c.name;
  }
}

}  // namespace
}  // namespace glidemate
