#include "host/input/input_service.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "host/input/recording_event_poster.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;

class InputServiceTest : public ::testing::Test {
 protected:
  InputServiceTest() { poster.answers.cursor = ScreenPoint{100, 100}; }

  InputService& service() {
    if (!service_) service_.emplace(poster, [this] { return now; });
    return *service_;
  }
  MouseEvent mouse(std::size_t i) const { return std::get<MouseEvent>(poster.posted().at(i).event); }
  std::int64_t field(std::size_t i, EventField f) const { return mouse(i).integerFields.get(f).value(); }
  std::vector<std::int64_t> clickStates() const {
    std::vector<std::int64_t> states;
    for (std::size_t i = 0; i < poster.posted().size(); ++i) {
      if (mouse(i).type == EventType::leftMouseDown || mouse(i).type == EventType::rightMouseDown) {
        states.push_back(field(i, EventField::mouseEventClickState));
      }
    }
    return states;
  }

  RecordingEventPoster poster;
  std::chrono::steady_clock::time_point now{10s};
  std::optional<InputService> service_;
};

TEST_F(InputServiceTest, MoveClampsToTheLastPixelOfTheDisplayUnionButReportsFullDeltas) {
  poster.answers.displays = std::vector<ScreenRect>{{0, 0, 1920, 1080}, {1920, -200, 1280, 1024}};
  service().move(-500, 20000);
  service().move(1e6, -1e6);

  ASSERT_EQ(poster.posted().size(), 2u);
  EXPECT_EQ(poster.posted()[0].tap, EventTapLocation::hid);
  EXPECT_EQ(mouse(0).type, EventType::mouseMoved);
  EXPECT_EQ(mouse(0).source, EventSource{EventSourceStateId::hidSystemState});
  EXPECT_EQ(mouse(0).location, (ScreenPoint{0, 1079}));
  EXPECT_EQ(field(0, EventField::mouseEventDeltaX), -500);
  EXPECT_EQ(field(0, EventField::mouseEventDeltaY), 20000);
  EXPECT_EQ(mouse(1).location, (ScreenPoint{3199, -200}));
  EXPECT_EQ(service().position(), (ScreenPoint{3199, -200}));
}

TEST_F(InputServiceTest, DeltaFieldsRoundHalvesAwayFromZero) {
  service().move(2.5, -2.5);
  service().move(0.4, -0.49);
  EXPECT_EQ(field(0, EventField::mouseEventDeltaX), 3);
  EXPECT_EQ(field(0, EventField::mouseEventDeltaY), -3);
  EXPECT_EQ(field(1, EventField::mouseEventDeltaX), 0);
  EXPECT_EQ(field(1, EventField::mouseEventDeltaY), 0);
  EXPECT_DOUBLE_EQ(service().position().x, 102.9);
}

TEST_F(InputServiceTest, MovesThatCannotBeWrittenAreIgnoredWhole) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [dx, dy] : std::vector<std::pair<double, double>>{{nan, 1}, {1, inf}, {-inf, 0}, {1e19, 0}, {0, -1e19}}) {
    service().move(dx, dy);
  }
  EXPECT_TRUE(poster.posted().empty());
  EXPECT_EQ(service().position(), (ScreenPoint{100, 100}));
}

TEST_F(InputServiceTest, FailedOrEmptyDisplayQueriesKeepTheBounds) {
  service();
  poster.answers.displays = std::nullopt;
  service().refreshBounds();
  poster.answers.displays = std::vector<ScreenRect>{};
  service().refreshBounds();
  EXPECT_EQ(service().bounds(), (ScreenRect{0, 0, 1920, 1080}));
}

TEST_F(InputServiceTest, WithoutDisplayBoundsNothingIsClamped) {
  poster.answers.displays = std::nullopt;
  service().move(-300, -400);
  EXPECT_EQ(service().bounds(), std::nullopt);
  EXPECT_EQ(mouse(0).location, (ScreenPoint{-200, -300}));
}

TEST_F(InputServiceTest, HeldButtonsTurnMovesIntoDrags) {
  struct Case {
    std::vector<MouseButton> held;
    EventType type;
    EventMouseButton button;
  };
  const std::vector<Case> cases{
      {{}, EventType::mouseMoved, EventMouseButton::left},
      {{MouseButton::left}, EventType::leftMouseDragged, EventMouseButton::left},
      {{MouseButton::right}, EventType::rightMouseDragged, EventMouseButton::right},
      {{MouseButton::left, MouseButton::right}, EventType::leftMouseDragged, EventMouseButton::right},
  };
  for (const auto& c : cases) {
    service().releaseAll();
    for (auto b : c.held) service().button(b, true);
    poster.clear();
    service().move(1, 1);
    EXPECT_EQ(mouse(0).type, c.type) << c.held.size();
    EXPECT_EQ(mouse(0).button, c.button) << c.held.size();
  }
}

TEST_F(InputServiceTest, PressMoveReleaseIsADragAtTheTrackedPosition) {
  service().button(MouseButton::left, true);
  service().move(10, 5);
  service().button(MouseButton::left, false);
  ASSERT_EQ(poster.posted().size(), 3u);
  EXPECT_EQ(mouse(0).type, EventType::leftMouseDown);
  EXPECT_EQ(mouse(0).location, (ScreenPoint{100, 100}));
  EXPECT_EQ(mouse(1).type, EventType::leftMouseDragged);
  EXPECT_EQ(mouse(2).type, EventType::leftMouseUp);
  EXPECT_EQ(mouse(2).location, (ScreenPoint{110, 105}));
}

TEST_F(InputServiceTest, CountsClicksOfOneButtonAtOneSpotWithinTheInterval) {
  struct Press {
    MouseButton button;
    double dx;  // move before the press, right after the previous one
    std::chrono::milliseconds after;
  };
  struct Case {
    std::string name;
    std::vector<Press> presses;
    std::vector<std::int64_t> states;
  };
  const auto L = MouseButton::left, R = MouseButton::right;
  const std::vector<Case> cases{
      {"6.0 points apart", {{L, 0, 0ms}, {L, 6.0, 100ms}}, {1, 1}},
      {"5.9 points apart", {{L, 0, 0ms}, {L, 5.9, 100ms}}, {1, 2}},
      {"other button", {{L, 0, 0ms}, {R, 0, 100ms}}, {1, 1}},
      {"quadruple", {{L, 0, 0ms}, {L, 0, 100ms}, {L, 0, 100ms}, {L, 0, 100ms}}, {1, 2, 3, 4}},
      {"exactly the interval", {{L, 0, 0ms}, {L, 0, 500ms}}, {1, 2}},
      {"beyond the interval", {{L, 0, 0ms}, {L, 0, 501ms}}, {1, 1}},
  };
  for (const auto& c : cases) {
    poster.clear();
    now += 10s;
    for (const auto& p : c.presses) {
      now += p.after;
      if (p.dx != 0) service().move(p.dx, 0);
      service().button(p.button, true);
      service().button(p.button, false);
    }
    EXPECT_EQ(clickStates(), c.states) << c.name;
  }
}

TEST_F(InputServiceTest, ReleaseCarriesTheCountOfItsPress) {
  for (int i = 0; i < 3; ++i) {
    service().button(MouseButton::left, true);
    service().button(MouseButton::left, false);
  }
  EXPECT_EQ(mouse(5).type, EventType::leftMouseUp);
  EXPECT_EQ(field(5, EventField::mouseEventClickState), 3);
}

TEST_F(InputServiceTest, ReleaseAllLetsGoOfHeldButtonsOnly) {
  service().releaseAll();
  EXPECT_TRUE(poster.posted().empty());

  service().button(MouseButton::left, true);
  service().button(MouseButton::right, true);
  poster.clear();
  service().releaseAll();
  ASSERT_EQ(poster.posted().size(), 2u);
  EXPECT_EQ(mouse(0).type, EventType::leftMouseUp);
  EXPECT_EQ(mouse(1).type, EventType::rightMouseUp);
  EXPECT_EQ(field(1, EventField::mouseEventClickState), 1);
  poster.clear();
  service().releaseAll();
  EXPECT_TRUE(poster.posted().empty());
}

TEST_F(InputServiceTest, AMoveAfterAPauseStartsFromTheLiveCursor) {
  service().move(1, 0);  // first move ever: reads the live cursor
  poster.answers.cursor = ScreenPoint{500, 500};  // the hardware mouse moved
  now += 190ms;
  service().move(1, 0);
  EXPECT_EQ(mouse(1).location, (ScreenPoint{102, 100}));

  poster.answers.cursor = ScreenPoint{500, 500};
  now += 250ms;
  service().move(1, 0);
  EXPECT_EQ(mouse(2).location, (ScreenPoint{501, 500}));

  poster.answers.cursor = std::nullopt;  // unreadable: keep the tracked one
  now += 250ms;
  service().move(1, 0);
  EXPECT_EQ(mouse(3).location, (ScreenPoint{502, 500}));
}

TEST_F(InputServiceTest, WorksWithoutASourceOrALiveCursor) {
  poster.answers.sourcesAvailable = false;
  poster.answers.cursor = std::nullopt;
  service().button(MouseButton::right, true);
  EXPECT_EQ(mouse(0).source, std::nullopt);
  EXPECT_EQ(mouse(0).location, (ScreenPoint{0, 0}));
}

}  // namespace
}  // namespace glidemate::host
