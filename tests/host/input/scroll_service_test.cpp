#include "host/input/scroll_service.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <cmath>
#include <limits>

#include "host/input/recording_event_poster.hpp"
#include "manual_frame_clock.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;
using Phase = ScrollGesturePhase;
using P = ScrollPhaseField;
using M = MomentumPhaseField;

// What a posted scroll event says, in the terms of the phase machine.
struct Seen {
  std::int32_t wheel2;  // horizontal
  std::int32_t wheel1;  // vertical
  P phase;
  M momentum;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << "(" << s.wheel2 << ", " << s.wheel1 << ") phase " << static_cast<int>(s.phase) << " momentum "
             << static_cast<int>(s.momentum);
}

const auto frame60 = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
    std::chrono::duration<double>(1.0 / 60));

class ScrollServiceTest : public ::testing::Test {
 protected:
  std::vector<Seen> seen() const {
    std::vector<Seen> out;
    for (const auto& p : poster.posted()) {
      const auto& e = std::get<ScrollWheelEvent>(p.event);
      out.push_back({e.wheel2, e.wheel1,
                     static_cast<P>(e.integerFields.get(EventField::scrollWheelEventScrollPhase).value()),
                     static_cast<M>(e.integerFields.get(EventField::scrollWheelEventMomentumPhase).value())});
    }
    return out;
  }
  // Lets the coast sleep one frame (plus `late`) and take its step.
  void frame(std::chrono::steady_clock::duration late = {}) {
    io.poll();
    const auto deadline = clock->nextDeadline();
    ASSERT_TRUE(deadline.has_value()) << "nothing is coasting";
    clock->advance(*deadline - clock->now() + late);
    io.poll();
  }
  std::chrono::steady_clock::duration sleepLength() {
    io.poll();
    return clock->nextDeadline().value() - clock->now();
  }
  void coastToTheEnd() {
    for (int frames = 0; service->isCoasting(); ++frames) {
      ASSERT_LT(frames, 10000) << "the coast never ends";
      frame();
    }
  }

  asio::io_context io;
  std::shared_ptr<testing::ManualFrameClock> clock = std::make_shared<testing::ManualFrameClock>();
  RecordingEventPoster poster;
  std::shared_ptr<ScrollService> service = ScrollService::create(poster, io.get_executor(), clock);
};

TEST_F(ScrollServiceTest, PostsContinuousPixelEventsWithThePhaseFields) {
  service->scroll(Phase::began, 0, 0);
  service->scroll(Phase::changed, 3.7, -2.2);
  ASSERT_EQ(poster.posted().size(), 2u);
  EXPECT_EQ(poster.posted()[1].tap, EventTapLocation::hid);

  ScrollWheelEvent expected;
  expected.source = EventSource{EventSourceStateId::hidSystemState};
  expected.units = ScrollEventUnit::pixel;
  expected.wheelCount = 2;
  expected.wheel1 = -2;
  expected.wheel2 = 3;
  expected.integerFields.set(EventField::scrollWheelEventIsContinuous, 1);
  expected.integerFields.set(EventField::scrollWheelEventScrollPhase, 2);
  expected.integerFields.set(EventField::scrollWheelEventMomentumPhase, 0);
  expected.doubleFields.set(EventField::scrollWheelEventPointDeltaAxis1, -2);
  expected.doubleFields.set(EventField::scrollWheelEventPointDeltaAxis2, 3);
  EXPECT_EQ(std::get<ScrollWheelEvent>(poster.posted()[1].event), expected);
}

TEST_F(ScrollServiceTest, CarriesFractionsFromEventToEvent) {
  service->scroll(Phase::began, 0, 0);
  for (int i = 0; i < 3; ++i) service->scroll(Phase::changed, 0.4, 0);
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, 0, P::began, M::none},
                                       {0, 0, P::changed, M::none},
                                       {0, 0, P::changed, M::none},
                                       {1, 0, P::changed, M::none}}));
}

TEST_F(ScrollServiceTest, PhaseSequences) {
  struct Case {
    std::string name;
    std::vector<Phase> phases;
    std::vector<Seen> expected;
  };
  const std::vector<Case> cases{
      {"resting fingers lifted", {Phase::mayBegin, Phase::ended}, {{0, 0, P::mayBegin, M::none}, {0, 0, P::cancelled, M::none}}},
      {"change without began", {Phase::changed}, {{0, 0, P::began, M::none}, {0, 5, P::changed, M::none}}},
      {"cancelled", {Phase::began, Phase::cancelled}, {{0, 0, P::began, M::none}, {0, 0, P::cancelled, M::none}}},
  };
  for (const auto& c : cases) {
    service = ScrollService::create(poster, io.get_executor(), clock);
    poster.clear();
    for (auto phase : c.phases) service->scroll(phase, 0, 5);
    EXPECT_EQ(seen(), c.expected) << c.name;
    EXPECT_FALSE(service->isCoasting()) << c.name;
  }
}

TEST_F(ScrollServiceTest, SlowReleasesDoNotCoast) {
  service->scroll(Phase::began, 0, 0);
  service->scroll(Phase::ended, 0, 23.9);
  EXPECT_FALSE(service->isCoasting());
  io.poll();
  EXPECT_EQ(clock->nextDeadline(), std::nullopt);
}

TEST_F(ScrollServiceTest, CoastsFromTheCappedVelocityAndEndsWithAMomentumEnd) {
  service->scroll(Phase::began, 0, 0);
  service->scroll(Phase::ended, 0, 10000);
  ASSERT_TRUE(service->isCoasting());
  poster.clear();

  ScrollMomentum reference;
  reference.start(0, 6000);
  frame();
  const double first = reference.step(std::chrono::duration<double>(frame60).count())->deltaY;
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, static_cast<std::int32_t>(first), P::none, M::begin}}));

  coastToTheEnd();
  const auto events = seen();
  ASSERT_GT(events.size(), 3u);
  for (std::size_t i = 1; i + 1 < events.size(); ++i) EXPECT_EQ(events[i].momentum, M::continuePhase) << i;
  EXPECT_EQ(events.back(), (Seen{0, 0, P::none, M::end}));
  EXPECT_EQ(service->machine().state, ScrollPhaseMachine::State{ScrollPhaseMachine::Idle{}});
  // It travels about as far as the momentum promised (each frame truncates).
  double travelled = 0;
  for (const auto& e : events) travelled += e.wheel1;
  ScrollMomentum full;
  full.start(0, 6000);
  EXPECT_NEAR(travelled, full.remainingDistance(), 30);
  io.poll();
  EXPECT_EQ(clock->nextDeadline(), std::nullopt);
}

TEST_F(ScrollServiceTest, SleepsOneFrameOfTheMainDisplay) {
  struct Case {
    std::optional<double> rate;
    double expectedHz;
  };
  for (const auto& c : std::vector<Case>{{120, 120}, {std::nullopt, 60}, {1.0, 60}, {0, 60}, {75, 75}}) {
    poster.answers.refreshRate = c.rate;
    service->scroll(Phase::began, 0, 0);
    service->scroll(Phase::ended, 0, 1000);
    const double slept = std::chrono::duration<double>(sleepLength()).count();
    EXPECT_NEAR(slept, 1.0 / c.expectedHz, 1e-9) << c.rate.value_or(-1);
  }
}

TEST_F(ScrollServiceTest, ALateFrameMovesAsFarAsTheTimeThatPassed) {
  service->scroll(Phase::ended, 0, 3000);  // from idle: no gesture events
  frame(2 * frame60);                       // woke two frames late
  ScrollMomentum reference;
  reference.start(0, 3000);
  const double expected = reference.step(std::chrono::duration<double>(3 * frame60).count())->deltaY;
  ASSERT_EQ(seen().size(), 1u);
  EXPECT_EQ(seen()[0].wheel1, static_cast<std::int32_t>(expected));
}

TEST_F(ScrollServiceTest, ANewGestureEndsTheCoastFirst) {
  service->scroll(Phase::began, 0, 0);
  service->scroll(Phase::ended, 0, 2000);
  frame();
  poster.clear();
  service->scroll(Phase::began, 0, 0);
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, 0, P::none, M::end}, {0, 0, P::began, M::none}}));
  EXPECT_FALSE(service->isCoasting());
  poster.clear();
  clock->advance(1s);
  io.poll();
  EXPECT_TRUE(poster.posted().empty());
  EXPECT_EQ(clock->nextDeadline(), std::nullopt);
}

TEST_F(ScrollServiceTest, ASecondReleaseReplacesTheRunningCoast) {
  service->scroll(Phase::began, 0, 0);
  service->scroll(Phase::ended, 0, 2000);
  frame();
  service->scroll(Phase::ended, 0, 3000);
  poster.clear();
  frame();
  // One coast, one event per frame, at the new velocity.
  ScrollMomentum reference;
  reference.start(0, 3000);
  const double expected = reference.step(std::chrono::duration<double>(frame60).count())->deltaY;
  ASSERT_EQ(seen().size(), 1u);
  EXPECT_EQ(seen()[0].momentum, M::continuePhase);
  EXPECT_NEAR(seen()[0].wheel1, expected, 1.0);
  io.poll();
  EXPECT_EQ(clock->nextDeadline(), clock->now() + frame60);
}

TEST_F(ScrollServiceTest, StopCancelsTheGestureOrEndsTheCoast) {
  service->scroll(Phase::began, 0, 0);
  poster.clear();
  service->stop();
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, 0, P::cancelled, M::none}}));

  service->scroll(Phase::began, 0, 0);
  service->scroll(Phase::ended, 0, 2000);
  frame();
  poster.clear();
  service->stop();
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, 0, P::none, M::end}}));
  EXPECT_FALSE(service->isCoasting());
}

TEST_F(ScrollServiceTest, DeltasThatCannotBePostedAreSkipped) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  service->scroll(Phase::began, 0, 0);
  poster.clear();
  service->scroll(Phase::changed, nan, 1);
  service->scroll(Phase::changed, 0, std::numeric_limits<double>::infinity());
  service->scroll(Phase::changed, 0, 1e12);  // no 32-bit wheel holds it
  EXPECT_TRUE(poster.posted().empty());
  service->scroll(Phase::changed, 0.5, 2);
  service->scroll(Phase::changed, 0.5, 0);
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, 2, P::changed, M::none}, {1, 0, P::changed, M::none}}));

  poster.clear();
  service->scroll(Phase::ended, nan, 1000);
  EXPECT_EQ(seen(), (std::vector<Seen>{{0, 0, P::ended, M::none}}));
  EXPECT_FALSE(service->isCoasting());
}

TEST_F(ScrollServiceTest, AGoneServiceEndsItsCoastSilently) {
  service->scroll(Phase::ended, 0, 2000);
  frame();
  poster.clear();
  service.reset();
  clock->advance(1s);
  io.poll();
  EXPECT_TRUE(poster.posted().empty());
  EXPECT_EQ(clock->nextDeadline(), std::nullopt);
}

}  // namespace
}  // namespace glidemate::host
