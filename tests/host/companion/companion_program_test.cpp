// glidemate-companion as a person starts it: what it says without a
// display or a tray, and one host per data folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "tests/host/companion/temp_folder.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/xvfb_display.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::ChildProcess;
using glidemate::testing::runProgram;

TEST(CompanionProgram, WithoutADisplayItSaysWhatToDo) {
  const auto result = runProgram({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                  GLIDEMATE_COMPANION_BIN});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "glidemate-companion: there is no display (DISPLAY is not set). Start it inside your desktop session, "
            "or run glidemate-host to serve phones without a window.\n");
}

// With a display but no tray it says so and runs as a window; a second
// companion, or a headless host, on the same data is refused.
TEST(CompanionProgram, OneHostPerDataFolder) {
  testing::TempFolder dir;
  host::testing::XvfbDisplay xvfb;
  glidemate::testing::PrivateBus bus;
  std::filesystem::create_directories(dir / "runtime");
  ::chmod((dir / "runtime").c_str(), 0700);
  for (const char* folder : {"home", "config", "data", "cache"}) std::filesystem::create_directories(dir / folder);
  setenv("DISPLAY", xvfb.name().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir / "no-system-bus").string()).c_str(), 1);
  setenv("PULSE_SERVER", ("unix:" + (dir / "no-pulse").string()).c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
  setenv("HOME", (dir / "home").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);

  const std::string data = (dir / "glidemate").string();
  ChildProcess companion({"/bin/sh", "-c", std::string("exec ") + GLIDEMATE_COMPANION_BIN +
                                               " --no-advertise --data-dir " + data + " 2>&1"},
                         {}, true);
  EXPECT_EQ(companion.readLineContaining("no system tray"),
            "glidemate-companion: no system tray here (no StatusNotifierWatcher on the session bus and no XEmbed "
            "tray on the display), so Glidemate opens as a window; closing it quits.");

  const std::string running = "glidemate-companion is already running for this data folder (pid " +
                              std::to_string(companion.pid()) + ")";
  const auto second = runProgram({GLIDEMATE_COMPANION_BIN, "--no-advertise", "--data-dir", data});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find(running), std::string::npos) << second.err;
  const auto host = runProgram({GLIDEMATE_HOST_BIN, "--no-advertise", "--data-dir", data});
  EXPECT_EQ(host.status, 1);
  EXPECT_NE(host.err.find(running), std::string::npos) << host.err;

  EXPECT_EQ(companion.stop(), 0);
}

}  // namespace
}  // namespace glidemate::host
