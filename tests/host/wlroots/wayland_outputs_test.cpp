// Where wlroots keeps its pointer on a layout of outputs.
#include <gtest/gtest.h>

#include <cmath>

#include "host/wlroots/wayland_outputs.hpp"

namespace glidemate::host {
namespace {

TEST(OutputLayout, APointGoesToTheNearestPointOfTheNearestOutput) {
  // A second output to the right, taller and raised by 100.
  const std::vector<ScreenRect> layout{{0, 0, 1440, 900}, {1440, -100, 1280, 1024}};
  const struct {
    ScreenPoint point;
    ScreenPoint expected;
  } cases[] = {
      {{700.5, 300}, {700.5, 300}},      // on the first
      {{1439.5, -50}, {1440, -50}},      // beside the first, where only the second reaches
      {{-20, 950}, {0, 899}},            // off the first's corner
      {{100, 5000}, {100, 899}},         // below the first
      {{1500, 2000}, {1500, 923}},       // below the second
      {{1439.5, 950}, {1440, 923}},      // below the seam: the second is nearer
      {{9000, -9000}, {2719, -100}},     // far off the second's corner
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nearestPointOnOutputs(layout, c.point), c.expected) << c.point.x << "," << c.point.y;
  }
  EXPECT_EQ(outputHolding(layout, {1440, 0}), 1U) << "a right edge belongs to the output beyond it";
  EXPECT_EQ(outputHolding(layout, {100, 900}), std::nullopt);
}

TEST(OutputLayout, NothingWithoutOutputsOrAPlace) {
  EXPECT_EQ(nearestPointOnOutputs({}, {1, 1}), std::nullopt);
  EXPECT_EQ(nearestPointOnOutputs({{0, 0, 10, 10}}, {NAN, 1}), std::nullopt);
}

}  // namespace
}  // namespace glidemate::host
