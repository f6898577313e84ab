#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "kit/input/touch_classifier.hpp"
#include "kit/input/touch_trace_step.hpp"

namespace glidemate {

void PrintTo(const TrackpadAction& action, std::ostream* os) {
  using A = TrackpadAction;
  if (const auto* m = std::get_if<A::MoveCursor>(&action.value)) {
    *os << "moveCursor(" << m->dx << ", " << m->dy << ")";
  } else if (const auto* c = std::get_if<A::Click>(&action.value)) {
    *os << "click(" << (c->button == MouseButton::left ? "left" : "right") << ")";
  } else if (const auto* s = std::get_if<A::System>(&action.value)) {
    *os << "system(" << static_cast<int>(s->gesture) << ")";
  } else if (const auto* sc = std::get_if<A::Scroll>(&action.value)) {
    *os << "scroll(phase " << static_cast<int>(sc->phase) << ", " << sc->dx << ", " << sc->dy << ")";
  } else if (std::holds_alternative<A::DragBegan>(action.value)) {
    *os << "dragBegan";
  } else {
    *os << "dragEnded";
  }
}

namespace {

using A = TrackpadAction;
using Steps = std::vector<TouchTraceStep>;

// Rounding differs between a hand-written expectation and the classifier's
// sums, so amounts compare within a hair.
bool close(double a, double b) { return std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b)); }

MATCHER(ActionNear, "") {
  const TrackpadAction& actual = std::get<0>(arg);
  const TrackpadAction& expected = std::get<1>(arg);
  if (actual.value.index() != expected.value.index()) return false;
  if (const auto* m = std::get_if<A::MoveCursor>(&actual.value)) {
    const auto& e = std::get<A::MoveCursor>(expected.value);
    return close(m->dx, e.dx) && close(m->dy, e.dy);
  }
  if (const auto* s = std::get_if<A::Scroll>(&actual.value)) {
    const auto& e = std::get<A::Scroll>(expected.value);
    return s->phase == e.phase && close(s->dx, e.dx) && close(s->dy, e.dy);
  }
  return actual == expected;
}

// One sample per finger, ids 1, 2, ... in the order of `at`.
Steps fingers(TouchPhase phase, const std::vector<Point>& at, double time) {
  Steps steps;
  for (std::size_t i = 0; i < at.size(); ++i) {
    steps.push_back(TouchTraceStep::Touch{{static_cast<std::int64_t>(i + 1), phase, at[i], time}});
  }
  return steps;
}
Steps flushAt(double now) { return {TouchTraceStep::Flush{now}}; }

Steps join(std::initializer_list<Steps> parts) {
  Steps all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<Point> shifted(const std::vector<Point>& at, Vector by) {
  std::vector<Point> out;
  for (Point p : at) out.push_back({p.x + by.dx, p.y + by.dy});
  return out;
}

// Every flush's actions, in order.
std::vector<TrackpadAction> replay(TouchClassifier& classifier, const Steps& steps) {
  std::vector<TrackpadAction> actions;
  for (const auto& step : steps) {
    if (const auto* touch = std::get_if<TouchTraceStep::Touch>(&step.value)) {
      classifier.apply(touch->sample);
    } else {
      const auto flushed = classifier.flush(std::get<TouchTraceStep::Flush>(step.value).now);
      actions.insert(actions.end(), flushed.begin(), flushed.end());
    }
  }
  return actions;
}

const Point origin{100, 100};
const std::vector<Point> one{origin};
const std::vector<Point> two{{100, 100}, {140, 100}};
const std::vector<Point> three{{100, 200}, {120, 200}, {140, 200}};
const std::vector<Point> four{{100, 200}, {120, 200}, {140, 200}, {160, 200}};

// A one-finger tap from 0 to 0.1 s, flushed at its end.
Steps tapAtZero() {
  return join({fingers(TouchPhase::began, one, 0), fingers(TouchPhase::ended, one, 0.1),
               flushAt(0.1)});
}

// A touch that starts at `start` and travels 6 then 5 more points to the
// right (11 in all: just beyond a tap), flushed after each move and at its end.
Steps moveElevenFrom(double start) {
  return join({fingers(TouchPhase::began, one, start),
               fingers(TouchPhase::moved, shifted(one, {6, 0}), start + 0.02), flushAt(start + 0.03),
               fingers(TouchPhase::moved, shifted(one, {11, 0}), start + 0.04), flushAt(start + 0.1),
               fingers(TouchPhase::ended, shifted(one, {11, 0}), start + 0.15),
               flushAt(start + 0.2)});
}

// Two fingers that move 20 points down in 5-point steps, one finger at a
// time, 10 ms apart; flushed, then lifted at `liftTime`.
Steps twoFingerScrollDown(double liftTime) {
  Steps steps = fingers(TouchPhase::began, two, 0);
  for (int k = 1; k <= 4; ++k) {
    const auto moved = fingers(TouchPhase::moved, shifted(two, {0, 5.0 * k}), 0.01 * k);
    steps.insert(steps.end(), moved.begin(), moved.end());
  }
  return join({steps, flushAt(0.045), fingers(TouchPhase::ended, shifted(two, {0, 20}), liftTime),
               flushAt(liftTime + 0.01)});
}

// Two fingers that move 80 points sideways in 20-point steps.
Steps twoFingerSideways(double dx) {
  Steps steps = fingers(TouchPhase::began, two, 0);
  for (int k = 1; k <= 4; ++k) {
    const auto moved = fingers(TouchPhase::moved, shifted(two, {dx / 4 * k, 0}), 0.01 * k);
    steps.insert(steps.end(), moved.begin(), moved.end());
  }
  return join({steps, fingers(TouchPhase::ended, shifted(two, {dx, 0}), 0.05), flushAt(0.06)});
}

// All fingers move by `by`, then by twice as much, and lift.
Steps swipe(const std::vector<Point>& at, Vector by) {
  return join({fingers(TouchPhase::began, at, 0),
               fingers(TouchPhase::moved, shifted(at, by), 0.05),
               fingers(TouchPhase::moved, shifted(at, {2 * by.dx, 2 * by.dy}), 0.1),
               fingers(TouchPhase::ended, shifted(at, {2 * by.dx, 2 * by.dy}), 0.15),
               flushAt(0.2)});
}

Steps multiTap(const std::vector<Point>& at, double start) {
  return join({fingers(TouchPhase::began, at, start), fingers(TouchPhase::ended, at, start + 0.1),
               flushAt(start + 0.1)});
}

TrackpadSettings with(void (*change)(TrackpadSettings&)) {
  TrackpadSettings settings;
  change(settings);
  return settings;
}

const A mayBegin = A::Scroll{ScrollGesturePhase::mayBegin, 0, 0};
const A scrollCancelled = A::Scroll{ScrollGesturePhase::cancelled, 0, 0};
const A scrollBegan = A::Scroll{ScrollGesturePhase::began, 0, 0};
A scrollChanged(double dy) { return A::Scroll{ScrollGesturePhase::changed, 0, dy}; }
A scrollEnded(double velocity) { return A::Scroll{ScrollGesturePhase::ended, 0, velocity}; }
A system(SystemGesture g) { return A::System{g}; }
const A leftClick = A::Click{MouseButton::left};
const A rightClick = A::Click{MouseButton::right};
const A dragBegan = A::DragBegan{};
const A dragEnded = A::DragEnded{};

struct TraceCase {
  std::string name;
  TrackpadSettings settings;
  Steps steps;
  std::vector<TrackpadAction> expected;
};

// Release velocity of twoFingerScrollDown: the centroid goes from 2.5 to 20
// points between 0.01 s and 0.04 s.
const double releaseSpeed = 17.5 / 0.03;

const std::vector<TraceCase> traceCases{
    {"a short touch that barely moves clicks", {},
     join({fingers(TouchPhase::began, one, 0), fingers(TouchPhase::moved, shifted(one, {5, 0}), 0.1),
           fingers(TouchPhase::ended, shifted(one, {5, 0}), 0.15), flushAt(0.16)}),
     {A::MoveCursor{5, 0}, leftClick}},
    {"a touch longer than a tap does not click", {},
     join({fingers(TouchPhase::began, one, 0), fingers(TouchPhase::moved, shifted(one, {5, 0}), 0.1),
           fingers(TouchPhase::ended, shifted(one, {5, 0}), 0.25), flushAt(0.26)}),
     {A::MoveCursor{5, 0}}},
    {"a quick touch travelling beyond a tap does not click", {}, moveElevenFrom(0),
     {A::MoveCursor{6, 0}, A::MoveCursor{5, 0}}},
    {"taps do not click when tap to click is off",
     with([](TrackpadSettings& s) { s.tapToClick = false; }), tapAtZero(), {}},
    {"two taps click twice", {}, join({tapAtZero(), multiTap(one, 0.2)}), {leftClick, leftClick}},
    {"a tap then a moving touch within the drag window drags", {},
     join({tapAtZero(), moveElevenFrom(0.3)}),
     {leftClick, A::MoveCursor{6, 0}, dragBegan, A::MoveCursor{5, 0}, dragEnded}},
    {"a moving touch after the drag window only moves", {},
     join({tapAtZero(), moveElevenFrom(0.45)}),
     {leftClick, A::MoveCursor{6, 0}, A::MoveCursor{5, 0}}},
    {"a tap then a held touch drags at the first flush past a tap's duration", {},
     join({tapAtZero(), fingers(TouchPhase::began, one, 0.3), flushAt(0.45), flushAt(0.55),
           fingers(TouchPhase::ended, one, 0.6), flushAt(0.65)}),
     {leftClick, dragBegan, dragEnded}},
    {"a cancelled drag lets go of the button and does not carry into the next touch", {},
     join({tapAtZero(), fingers(TouchPhase::began, one, 0.3), flushAt(0.55),
           fingers(TouchPhase::cancelled, one, 0.6), flushAt(0.65),
           fingers(TouchPhase::began, one, 1.0),
           fingers(TouchPhase::moved, shifted(one, {20, 0}), 1.05),
           fingers(TouchPhase::ended, shifted(one, {20, 0}), 1.1), flushAt(1.2)}),
     {leftClick, dragBegan, dragEnded, A::MoveCursor{20, 0}}},
    {"a cancelled touch neither clicks nor moves", {},
     join({fingers(TouchPhase::began, one, 0), fingers(TouchPhase::moved, shifted(one, {3, 0}), 0.05),
           fingers(TouchPhase::cancelled, shifted(one, {3, 0}), 0.1), flushAt(0.1)}),
     {}},
    {"samples of untracked fingers are ignored", {},
     join({fingers(TouchPhase::moved, one, 0), fingers(TouchPhase::ended, one, 0.05),
           fingers(TouchPhase::began, one, 0.1),
           Steps{TouchTraceStep::Touch{{9, TouchPhase::moved, {300, 300}, 0.12}},
                 TouchTraceStep::Touch{{9, TouchPhase::ended, {300, 300}, 0.13}}},
           fingers(TouchPhase::ended, one, 0.2), flushAt(0.2)}),
     {leftClick}},
    {"slow movement passes through unaccelerated", {},
     join({flushAt(0), fingers(TouchPhase::began, one, 0),
           fingers(TouchPhase::moved, shifted(one, {2, 0}), 0.01), flushAt(1.0 / 60),
           fingers(TouchPhase::ended, shifted(one, {2, 0}), 0.3), flushAt(0.3)}),
     {A::MoveCursor{2, 0}}},
    {"fast movement gets the maximum gain", {},
     join({flushAt(0), fingers(TouchPhase::began, one, 0),
           fingers(TouchPhase::moved, shifted(one, {0, -40}), 0.01), flushAt(1.0 / 60),
           fingers(TouchPhase::ended, shifted(one, {0, -40}), 0.3), flushAt(0.3)}),
     {A::MoveCursor{0, -104}}},

    {"a two-finger tap right-clicks", {},
     join({fingers(TouchPhase::began, two, 0), fingers(TouchPhase::ended, two, 0.1), flushAt(0.1)}),
     {mayBegin, scrollCancelled, rightClick}},
    {"two fingers moving down scroll past the axis lock and end with their velocity", {},
     twoFingerScrollDown(0.05),
     {mayBegin, scrollBegan, scrollChanged(7.5), scrollEnded(releaseSpeed)}},
    {"reversed scrolling flips amount and velocity, scaled by the scroll speed",
     with([](TrackpadSettings& s) {
       s.naturalScrolling = false;
       s.scrollSpeed = 2;
     }),
     twoFingerScrollDown(0.05),
     {mayBegin, scrollBegan, scrollChanged(-15), scrollEnded(-2 * releaseSpeed)}},
    {"fingers that rest before lifting end the scroll without velocity", {},
     twoFingerScrollDown(0.2), {mayBegin, scrollBegan, scrollChanged(7.5), scrollEnded(0)}},
    {"a cancelled scroll drops its unsent movement", {},
     join({fingers(TouchPhase::began, two, 0),
           fingers(TouchPhase::moved, shifted(two, {0, 15}), 0.01),
           fingers(TouchPhase::moved, shifted(two, {0, 30}), 0.02),
           fingers(TouchPhase::cancelled, shifted(two, {0, 30}), 0.03), flushAt(0.04)}),
     {mayBegin, scrollCancelled}},
    {"two fingers moving right go back once, without scrolling", {}, twoFingerSideways(80),
     {mayBegin, system(SystemGesture::back), scrollCancelled}},
    {"two fingers moving left go forward", {}, twoFingerSideways(-80),
     {mayBegin, system(SystemGesture::forward), scrollCancelled}},
    {"without natural scrolling, moving right goes forward",
     with([](TrackpadSettings& s) { s.naturalScrolling = false; }), twoFingerSideways(80),
     {mayBegin, system(SystemGesture::forward), scrollCancelled}},
    {"sideways travel short of a navigation swipe does nothing", {}, twoFingerSideways(56),
     {mayBegin, scrollCancelled}},

    {"three fingers moving up open Mission Control once", {}, swipe(three, {0, -50}),
     {mayBegin, scrollCancelled, system(SystemGesture::missionControl)}},
    {"three fingers moving down press Escape", {}, swipe(three, {0, 50}),
     {mayBegin, scrollCancelled, system(SystemGesture::escape)}},
    {"three fingers moving right go a space left", {}, swipe(three, {50, 0}),
     {mayBegin, scrollCancelled, system(SystemGesture::spaceLeft)}},
    {"three fingers moving left go a space right", {}, swipe(three, {-50, 0}),
     {mayBegin, scrollCancelled, system(SystemGesture::spaceRight)}},
    {"three fingers drag when three-finger drag is on",
     with([](TrackpadSettings& s) { s.threeFingerDragEnabled = true; }), swipe(three, {30, 0}),
     {mayBegin, scrollCancelled, dragBegan, A::MoveCursor{60, 0}, dragEnded}},
    {"with three-finger drag on, four fingers swipe",
     with([](TrackpadSettings& s) { s.threeFingerDragEnabled = true; }), swipe(four, {0, -50}),
     {mayBegin, scrollCancelled, system(SystemGesture::missionControl)}},

    {"two three-finger taps 0.3 s apart show App Expose", {},
     join({multiTap(three, 0), multiTap(three, 0.3)}),
     {mayBegin, scrollCancelled, mayBegin, scrollCancelled, system(SystemGesture::appExpose)}},
    {"three-finger taps further apart than the multi-tap window do nothing", {},
     join({multiTap(three, 0), multiTap(three, 0.6)}),
     {mayBegin, scrollCancelled, mayBegin, scrollCancelled}},
    {"a third quick three-finger tap starts a new pair", {},
     join({multiTap(three, 0), multiTap(three, 0.2), multiTap(three, 0.4)}),
     {mayBegin, scrollCancelled, mayBegin, scrollCancelled, system(SystemGesture::appExpose),
      mayBegin, scrollCancelled}},
    {"with three-finger drag on, the double tap takes four fingers",
     with([](TrackpadSettings& s) { s.threeFingerDragEnabled = true; }),
     join({multiTap(four, 0), multiTap(four, 0.3)}),
     {mayBegin, scrollCancelled, mayBegin, scrollCancelled, system(SystemGesture::appExpose)}},
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

class TouchTrace : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TouchTrace, EmitsTheExpectedActions) {
  TouchClassifier classifier(GetParam().settings);
  EXPECT_THAT(replay(classifier, GetParam().steps),
              ::testing::Pointwise(ActionNear(), GetParam().expected));
  EXPECT_TRUE(classifier.isIdle());
}

INSTANTIATE_TEST_SUITE_P(TouchClassifier, TouchTrace, ::testing::ValuesIn(traceCases),
                         [](const ::testing::TestParamInfo<TraceCase>& param) {
                           std::string name;
                           for (char ch : param.param.name) {
                             if (std::isalnum(static_cast<unsigned char>(ch))) name += ch;
                             else if (ch == ' ') name += '_';
                           }
                           return name;
                         });

TEST(TouchClassifier, StaysBusyUntilTheReleaseIsFlushed) {
  TouchClassifier classifier;
  EXPECT_TRUE(classifier.isIdle());
  classifier.apply({1, TouchPhase::began, origin, 0});
  EXPECT_FALSE(classifier.isIdle());
  classifier.apply({1, TouchPhase::ended, origin, 0.1});
  EXPECT_FALSE(classifier.isIdle()) << "the click has not been handed out yet";
  EXPECT_EQ(classifier.flush(0.1), std::vector<TrackpadAction>{leftClick});
  EXPECT_TRUE(classifier.isIdle());
}

}  // namespace
}  // namespace glidemate
