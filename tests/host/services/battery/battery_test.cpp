#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "host/services/battery/battery_service.hpp"
#include "host/services/battery/fake_power_sources.hpp"
#include "host/services/battery/sysfs/sysfs_power_sources.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate::host {
namespace {

namespace fs = std::filesystem;
using Source = PowerSources::Source;
using Files = std::map<std::string, std::string>;

// A power-supply folder tree in a temporary folder, as the kernel lays it out.
class SupplyTree {
 public:
  void add(const std::string& supply, const Files& files) {
    fs::create_directories(folder_.path() / supply);
    for (const auto& [name, content] : files) std::ofstream(folder_.path() / supply / name) << content;
  }
  BatteryStatus status() const {
    return BatteryService(std::make_unique<SysfsPowerSources>(folder_.path())).status();
  }

 private:
  glidemate::testing::TempDir folder_;
};

const Files laptopBattery{{"type", "Battery\n"},       {"present", "1\n"},       {"status", "Charging\n"},
                          {"energy_now", "4321000\n"}, {"energy_full", "5000000\n"}, {"capacity", "90\n"},
                          {"cycle_count", "12\n"},     {"health", "Good\n"}};

TEST(BatteryTest, TheComputersOwnBatteryIsReported) {
  SupplyTree tree;
  tree.add("AC", {{"type", "Mains\n"}, {"online", "1\n"}});
  // A wireless mouse's battery is not the computer's.
  tree.add("hidpp_battery_0", {{"type", "Battery\n"}, {"scope", "Device\n"}, {"capacity", "40\n"}});
  tree.add("BAT0", laptopBattery);
  // 4321 of 5000 is 86.42 %: truncated, not rounded.
  EXPECT_EQ(tree.status(), (BatteryStatus{true, 86, true, 12, "Good"}));
}

TEST(BatteryTest, NoBatteryReportsNotPresentAndNothingElse) {
  SupplyTree tree;
  tree.add("AC", {{"type", "Mains\n"}});
  tree.add("BAT1", {{"type", "Battery\n"}, {"present", "0\n"}, {"capacity", "50\n"}});
  EXPECT_EQ(tree.status(), BatteryStatus{});
  // Nor when the class folder does not exist at all.
  EXPECT_EQ(BatteryService(std::make_unique<SysfsPowerSources>("/nonexistent/power_supply")).status(),
            BatteryStatus{});
}

// Drivers give energy, charge or only a percentage; a file may be missing
// or hold garbage, and the next way of reading the charge is used.
TEST(BatteryTest, TheChargeComesFromWhateverTheDriverGives) {
  struct Case {
    const char* what;
    Files files;
    std::optional<std::int64_t> percent;
  };
  const std::vector<Case> cases{
      {"charge counters", {{"charge_now", "1000"}, {"charge_full", "4000"}, {"capacity", "99"}}, 25},
      {"energy_full missing", {{"energy_now", "4321"}, {"charge_now", "1"}, {"charge_full", "3"}}, 33},
      {"garbage energy", {{"energy_now", "lots"}, {"energy_full", "5000"}, {"capacity", "71"}}, 71},
      {"negative energy", {{"energy_now", "-5"}, {"energy_full", "5000"}}, std::nullopt},
      {"empty full gauge", {{"energy_now", "0"}, {"energy_full", "0"}, {"capacity", "3"}}, 3},
      {"above its own full mark", {{"energy_now", "5100"}, {"energy_full", "5000"}}, 100},
      {"capacity only", {{"capacity", " 64 \n"}}, 64},
      {"capacity with units", {{"capacity", "64%"}}, std::nullopt},
      {"nothing", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SupplyTree tree;
    Files files = c.files;
    files["type"] = "Battery";
    tree.add("BAT0", files);
    const auto status = tree.status();
    EXPECT_TRUE(status.isPresent) << c.what;
    EXPECT_EQ(status.percent, c.percent) << c.what;
  }
}

TEST(BatteryTest, UnknownOrMissingDetailsAreAbsent) {
  SupplyTree tree;
  tree.add("BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"health", "Unknown"}, {"cycle_count", "n/a"}});
  EXPECT_EQ(tree.status(), (BatteryStatus{true, std::nullopt, false, std::nullopt, std::nullopt}));
}

TEST(BatteryTest, TheFirstPresentInternalBatteryCounts) {
  auto stated = [](bool internal, bool present, std::int64_t percent, std::optional<std::string> condition) {
    return Source{internal, present, std::nullopt, std::nullopt, percent, false, std::nullopt, std::move(condition)};
  };
  BatteryService service(std::make_unique<FakePowerSources>(std::vector<Source>{
      stated(false, true, 10, std::nullopt),
      stated(true, false, 20, std::nullopt),
      stated(true, true, 30, "Overheat"),
      stated(true, true, 40, std::nullopt),
  }));
  EXPECT_EQ(service.status(), (BatteryStatus{true, 30, false, std::nullopt, "Overheat"}));
}

}  // namespace
}  // namespace glidemate::host
