#include "kit/input/scroll_momentum.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kit/input/sub_pixel_accumulator.hpp"

namespace glidemate {
namespace {

TEST(ScrollMomentum, StartCapsTheReleaseSpeedKeepingItsDirection) {
  ScrollMomentum m;
  m.start(8000, -6000);  // speed 10 000
  EXPECT_DOUBLE_EQ(m.speed(), 6000);
  EXPECT_DOUBLE_EQ(m.velocityX, 4800);
  EXPECT_DOUBLE_EQ(m.velocityY, -3600);

  m.start(30, 40);
  EXPECT_DOUBLE_EQ(m.velocityX, 30);
  EXPECT_DOUBLE_EQ(m.velocityY, 40);
}

TEST(ScrollMomentum, ActivityStartsAtTheMinimumSpeed) {
  ScrollMomentum m;
  m.start(23.9, 0);
  EXPECT_FALSE(m.isActive());
  EXPECT_EQ(m.remainingDistance(), 0);
  m.start(24, 0);
  EXPECT_TRUE(m.isActive());
}

TEST(ScrollMomentum, NonFiniteReleaseVelocityDoesNotCoast) {
  ScrollMomentum m;
  m.start(1000, 0);
  m.start(std::numeric_limits<double>::quiet_NaN(), 10);
  EXPECT_EQ(m.velocityX, 0);
  EXPECT_EQ(m.velocityY, 0);
  m.start(std::numeric_limits<double>::infinity(), 0);
  EXPECT_FALSE(m.isActive());
}

TEST(ScrollMomentum, StepsIntegrateTheDecayExactly) {
  ScrollMomentum m;
  m.start(1000, 0);
  const double k = 1000 * std::log(0.998);
  const auto d = m.step(0.016);
  ASSERT_TRUE(d.has_value());
  EXPECT_NEAR(d->deltaX, 1000 * (std::exp(k * 0.016) - 1) / k, 1e-9);
  EXPECT_EQ(d->deltaY, 0);
  EXPECT_NEAR(m.velocityX, 1000 * std::exp(k * 0.016), 1e-9);

  // One long step travels as far as many short ones: irregular frames do not
  // change the distance.
  ScrollMomentum whole, parts;
  whole.start(0, 3000);
  parts.start(0, 3000);
  const double once = whole.step(0.1)->deltaY;
  double summed = 0;
  for (int i = 0; i < 10; ++i) summed += parts.step(0.01)->deltaY;
  EXPECT_NEAR(once, summed, 1e-9);
}

TEST(ScrollMomentum, RemainingDistanceIsTheWholeIntegral) {
  ScrollMomentum m;
  m.start(0, 2000);
  EXPECT_NEAR(m.remainingDistance(), 2000 / (-1000 * std::log(0.998)), 1e-9);
}

TEST(ScrollMomentum, StopsBelowTheMinimumAndOnNonPositiveDurations) {
  ScrollMomentum m;
  m.start(100, 0);
  EXPECT_EQ(m.step(0), std::nullopt);
  EXPECT_EQ(m.speed(), 0);

  // The step that drops below the minimum still moves; the next one ends.
  m.start(25, 0);
  const auto last = m.step(0.1);
  ASSERT_TRUE(last.has_value());
  EXPECT_GT(last->deltaX, 0);
  EXPECT_EQ(m.speed(), 0);
  EXPECT_EQ(m.step(0.016), std::nullopt);
}

TEST(SubPixelAccumulator, CarriesFractionsWithTheirSign) {
  SubPixelAccumulator a;
  EXPECT_EQ(a.take(0.4, 0), (SubPixelAccumulator::WholeParts{0, 0}));
  EXPECT_EQ(a.take(0.4, 0), (SubPixelAccumulator::WholeParts{0, 0}));
  EXPECT_EQ(a.take(0.4, 0), (SubPixelAccumulator::WholeParts{1, 0}));
  EXPECT_NEAR(a.residualX, 0.2, 1e-12);

  EXPECT_EQ(a.take(-1.5, -2.75), (SubPixelAccumulator::WholeParts{-1, -2}));
  EXPECT_NEAR(a.residualX, -0.3, 1e-12);
  EXPECT_NEAR(a.residualY, -0.75, 1e-12);

  a.reset();
  EXPECT_EQ(a, SubPixelAccumulator{});
}

}  // namespace
}  // namespace glidemate
