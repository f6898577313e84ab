#include "host/input/laser_pointer_service.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/input/recording_event_poster.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

struct Shown {
  LaserColor color;
  ScreenPoint centre;
  bool isOpen = true;
};

// Laser windows that only remember, in the test's list, what was done to
// them.
class FakeLaserOverlay final : public LaserOverlay {
 public:
  explicit FakeLaserOverlay(std::vector<std::shared_ptr<Shown>>& windows) : windows_(windows) {}

  std::unique_ptr<LaserWindow> open(LaserColor color, ScreenPoint centre) override {
    auto shown = std::make_shared<Shown>(Shown{color, centre});
    windows_.push_back(shown);
    return std::make_unique<Window>(shown);
  }

 private:
  class Window final : public LaserWindow {
   public:
    explicit Window(std::shared_ptr<Shown> shown) : shown_(std::move(shown)) {}
    ~Window() override { shown_->isOpen = false; }
    void setColor(LaserColor color) override { shown_->color = color; }
    void moveTo(ScreenPoint point) override { shown_->centre = point; }

   private:
    std::shared_ptr<Shown> shown_;
  };

  std::vector<std::shared_ptr<Shown>>& windows_;
};

class LaserPointerServiceTest : public ::testing::Test {
 protected:
  asio::io_context io;
  RecordingEventPoster poster;
  std::vector<std::shared_ptr<Shown>> windows;
  std::optional<LaserPointerService> laser{std::in_place, io.get_executor(), poster,
                                           std::make_unique<FakeLaserOverlay>(windows)};
};

TEST_F(LaserPointerServiceTest, OneWindowRecolouredWhileShown) {
  poster.answers.cursor = ScreenPoint{100, 200};
  laser->set(LaserColor::red);
  laser->set(LaserColor::red);
  ASSERT_EQ(windows.size(), 1U);
  EXPECT_EQ(windows[0]->centre, (ScreenPoint{100, 200}));
  EXPECT_TRUE(poster.cursorHidden());
  laser->set(LaserColor::green);
  ASSERT_EQ(windows.size(), 1U);
  EXPECT_EQ(windows[0]->color, LaserColor::green);
  EXPECT_TRUE(windows[0]->isOpen);
}

TEST_F(LaserPointerServiceTest, TheDotFollowsTheCursorUntilHidden) {
  laser->set(LaserColor::green);
  poster.answers.cursor = ScreenPoint{640, 400};
  ASSERT_TRUE(glidemate::testing::runUntil(io, [&] { return windows[0]->centre == ScreenPoint{640, 400}; }));
  // An unreadable cursor leaves the dot where it is.
  poster.answers.cursor = std::nullopt;
  laser->set(std::nullopt);
  EXPECT_FALSE(windows[0]->isOpen);
  EXPECT_FALSE(poster.cursorHidden());
  EXPECT_FALSE(laser->isShown());
  EXPECT_EQ(laser->color(), LaserColor::green);
  // Showing again opens a new window at the cursor, in the colour asked.
  poster.answers.cursor = ScreenPoint{5, 5};
  laser->set(LaserColor::red);
  ASSERT_EQ(windows.size(), 2U);
  EXPECT_EQ(windows[1]->color, LaserColor::red);
  EXPECT_EQ(windows[1]->centre, (ScreenPoint{5, 5}));
}

TEST_F(LaserPointerServiceTest, HidingShowsTheCursorEvenWithNothingShown) {
  poster.hideCursor();
  laser->hide();
  EXPECT_FALSE(poster.cursorHidden());
  // Going away with the dot up hides it.
  laser->set(LaserColor::red);
  laser.reset();
  EXPECT_FALSE(windows[0]->isOpen);
  EXPECT_FALSE(poster.cursorHidden());
  io.run();
}

// A desktop with no surface above the others: the colour is taken and kept,
// nothing is drawn, the cursor stays, and no timer runs.
TEST_F(LaserPointerServiceTest, WithoutAnOverlayTheColourIsKeptAndNothingDrawn) {
  LaserPointerService unseen(io.get_executor(), poster, nullptr);
  unseen.set(LaserColor::green);
  EXPECT_EQ(unseen.color(), LaserColor::green);
  EXPECT_FALSE(unseen.isShown());
  EXPECT_FALSE(poster.cursorHidden());
  EXPECT_EQ(io.poll(), 0U);
  unseen.set(std::nullopt);
  EXPECT_EQ(unseen.color(), LaserColor::green);
}

}  // namespace
}  // namespace glidemate::host
