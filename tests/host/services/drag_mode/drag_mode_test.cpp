#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <fstream>

#include "host/app/settings_drag_mode_setting.hpp"
#include "host/services/drag_mode/trackpad_drag_mode_service.hpp"
#include "tests/host/input/manual_frame_clock.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;

class CountingSetting final : public DragModeSetting {
 public:
  bool on = false;
  int reads = 0;
  bool isThreeFingerDragOn() override {
    ++reads;
    return on;
  }
};

class DragModeTest : public ::testing::Test {
 protected:
  asio::io_context io;
  std::shared_ptr<testing::ManualFrameClock> clock = std::make_shared<testing::ManualFrameClock>();
  std::unique_ptr<CountingSetting> ownSetting = std::make_unique<CountingSetting>();
  CountingSetting& setting = *ownSetting;
  std::vector<bool> changes;

  void poll() {
    io.restart();
    io.poll();
  }
  void advance(std::chrono::steady_clock::duration by) {
    clock->advance(by);
    poll();
  }
};

TEST_F(DragModeTest, ChangesAreReadEveryTwoSecondsAndReportedOnce) {
  setting.on = true;
  TrackpadDragModeService service(io.get_executor(), std::move(ownSetting), clock);
  EXPECT_TRUE(service.isEnabled());

  setting.on = false;
  service.startPolling([&](bool on) { changes.push_back(on); });
  service.startPolling([&](bool) { ADD_FAILURE() << "a second poll"; });
  poll();
  // The first round runs at once.
  EXPECT_EQ(changes, std::vector<bool>{false});
  EXPECT_FALSE(service.isEnabled());

  setting.on = true;
  const int reads = setting.reads;
  advance(1999ms);
  EXPECT_EQ(setting.reads, reads);
  advance(1ms);
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
  advance(2s);
  advance(2s);
  EXPECT_EQ(changes, (std::vector<bool>{false, true})) << "no change, no report";
  EXPECT_EQ(setting.reads, reads + 3);
}

TEST_F(DragModeTest, StoppingOrDestroyingEndsThePoll) {
  auto service = std::make_unique<TrackpadDragModeService>(io.get_executor(), std::move(ownSetting), clock);
  service->startPolling([&](bool on) { changes.push_back(on); });
  poll();
  service->stopPolling();
  poll();
  setting.on = true;
  advance(10s);
  EXPECT_TRUE(changes.empty());
  EXPECT_FALSE(clock->nextDeadline());

  service->startPolling([&](bool on) { changes.push_back(on); });
  poll();
  EXPECT_EQ(changes, std::vector<bool>{true});
  service.reset();
  poll();
  EXPECT_FALSE(clock->nextDeadline());
}

TEST(SettingsDragModeSetting, IsTheHostsOwnBooleanAndKeepsTheOtherSettings) {
  glidemate::testing::TempDir folder;
  const auto file = folder.write("settings.json", R"({"hostId":"H1","threeFingerDrag":"yes","future":[1,2]})");
  UserDefaults defaults(file);
  SettingsDragModeSetting setting(defaults);
  EXPECT_FALSE(setting.isThreeFingerDragOn()) << "not a Boolean";

  defaults.setBoolean(SettingsDragModeSetting::key, true);
  EXPECT_TRUE(setting.isThreeFingerDragOn());
  UserDefaults reread(file);
  EXPECT_EQ(reread.boolean("threeFingerDrag"), true);
  EXPECT_EQ(reread.string("hostId"), "H1");
  EXPECT_EQ(reread.string("threeFingerDrag"), std::nullopt);
  defaults.set("hostId", "H2");
  std::ifstream text(file);
  std::string all((std::istreambuf_iterator<char>(text)), std::istreambuf_iterator<char>());
  EXPECT_NE(all.find("\"future\": [\n    1,\n    2\n  ]"), std::string::npos) << all;
}

}  // namespace
}  // namespace glidemate::host
