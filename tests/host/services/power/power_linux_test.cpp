// Power on Linux against the real things: logind and the screen saver
// mocked by python-dbusmock on private buses, the display on Xvfb.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include "host/services/apple_script_runner.hpp"
#include "host/services/power/logind/logind_power_actions.hpp"
#include "host/services/power/power_service.hpp"
#include "host/services/power/screensaver/screen_saver_keep_awake.hpp"
#include "host/services/power/x11/x11_display_sleeper.hpp"
#include "tests/support/dbus_mock.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/xvfb_display.hpp"

// Last: Xlib's macros (None, Bool) would change the names above.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace glidemate::host {
namespace {

using glidemate::testing::DBusMockClient;
using glidemate::testing::PrivateBus;
using glidemate::testing::runAwaitable;
using glidemate::testing::runUntil;

constexpr const char* login1 = "org.freedesktop.login1";
constexpr const char* managerPath = "/org/freedesktop/login1";
constexpr const char* screenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* screenSaverPath = "/org/freedesktop/ScreenSaver";

class LogindTest : public ::testing::Test {
 protected:
  asio::io_context io;
  PrivateBus bus{PrivateBus::Type::system};
  std::shared_ptr<DBusConnection> connection;
  std::unique_ptr<DBusMockClient> mock;

  void SetUp() override {
    bus.startMock({"--template", "logind"}, login1);
    connection = DBusConnection::openAddress(io.get_executor(), bus.address());
    mock = std::make_unique<DBusMockClient>(bus.address());
    auto manager = sdbus::createProxy(mock->connection(), login1, managerPath);
    manager->callMethod("AddSession")
        .onInterface(DBusMockClient::mockInterface)
        .withArguments(std::string("c7"), std::string("seat0"), std::uint32_t{1000}, std::string("ann"), true);
  }

  std::optional<AppleScriptRunner::Failure> failureOf(PowerActions& actions, PowerAction action) {
    try {
      runAwaitable(io, actions.perform(action));
    } catch (const AppleScriptRunner::Failure& e) {
      return e;
    }
    return std::nullopt;
  }
};

TEST_F(LogindTest, ActionsReachLogindWithoutAskingForAPassword) {
  LogindPowerActions actions(connection, "c7");
  for (auto action : {PowerAction::sleep, PowerAction::restart, PowerAction::shutDown, PowerAction::lock}) {
    EXPECT_EQ(failureOf(actions, action), std::nullopt);
  }
  for (const char* method : {"Suspend", "Reboot", "PowerOff"}) {
    const auto calls = mock->calls(login1, managerPath, method);
    ASSERT_EQ(calls.size(), 1u) << method;
    EXPECT_EQ(calls[0].at(0).get<bool>(), false) << method << " must not be interactive";
  }
  EXPECT_EQ(mock->calls(login1, "/org/freedesktop/login1/session/c7", "Lock").size(), 1u);
}

TEST_F(LogindTest, ARefusalIsAFailureWithLogindsOwnWords) {
  mock->addMethod(login1, managerPath, "org.freedesktop.login1.Manager", "Suspend", "b", "",
                  "raise dbus.exceptions.DBusException('Access denied by policy.', "
                  "name='org.freedesktop.DBus.Error.AccessDenied')");
  LogindPowerActions actions(connection, "c7");
  EXPECT_EQ(failureOf(actions, PowerAction::sleep), AppleScriptRunner::Failure::failed("Access denied by policy."));

  // A session that is not there: logind's answer, not a crash or silence.
  LogindPowerActions elsewhere(connection, "c99");
  const auto failure = failureOf(elsewhere, PowerAction::lock);
  ASSERT_TRUE(failure);
  EXPECT_FALSE(std::get<AppleScriptRunner::Failure::Failed>(failure->which()).message.empty());

  bus.stop();
  EXPECT_TRUE(failureOf(actions, PowerAction::restart));
}

class ScreenSaverTest : public ::testing::Test {
 protected:
  asio::io_context io;
  PrivateBus bus;
  std::unique_ptr<DBusMockClient> mock;
  std::shared_ptr<DBusConnection> connection;

  void SetUp() override {
    bus.startMock({screenSaver, screenSaverPath, screenSaver}, screenSaver);
    mock = std::make_unique<DBusMockClient>(bus.address());
    mock->addMethod(screenSaver, screenSaverPath, screenSaver, "Inhibit", "ss", "u", "ret = 41");
    mock->addMethod(screenSaver, screenSaverPath, screenSaver, "UnInhibit", "u", "", "");
    connection = DBusConnection::openAddress(io.get_executor(), bus.address());
  }

  std::size_t callsOf(const std::string& method) { return mock->calls(screenSaver, screenSaverPath, method).size(); }
};

struct NoActions final : PowerActions, DisplaySleeper {
  asio::awaitable<void> perform(PowerAction) override { co_return; }
  void sleepDisplay() override {}
};

TEST_F(ScreenSaverTest, OneInhibitionForRepeatedRequestsReleasedOnce) {
  PowerService power(io.get_executor(), std::make_unique<NoActions>(), std::make_unique<NoActions>(),
                     std::make_unique<ScreenSaverKeepAwake>(connection));
  runAwaitable(io, power.setKeepAwake(true));
  runAwaitable(io, power.setKeepAwake(true));
  EXPECT_TRUE(power.isKeptAwake());
  const auto inhibits = mock->calls(screenSaver, screenSaverPath, "Inhibit");
  ASSERT_EQ(inhibits.size(), 1u);
  EXPECT_EQ(inhibits[0].at(0).get<std::string>(), "Glidemate");
  EXPECT_EQ(inhibits[0].at(1).get<std::string>(), "Kept awake from Glidemate");

  runAwaitable(io, power.setKeepAwake(false));
  runAwaitable(io, power.setKeepAwake(false));
  const auto releases = mock->calls(screenSaver, screenSaverPath, "UnInhibit");
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(releases[0].at(0).get<std::uint32_t>(), 41u);
}

TEST_F(ScreenSaverTest, WhatIsHeldIsReleasedWhenTheHostGoes) {
  {
    PowerService power(io.get_executor(), std::make_unique<NoActions>(), std::make_unique<NoActions>(),
                       std::make_unique<ScreenSaverKeepAwake>(connection));
    runAwaitable(io, power.setKeepAwake(true));
  }
  connection.reset();
  EXPECT_EQ(callsOf("UnInhibit"), 1u);
}

TEST_F(ScreenSaverTest, ALostBusDropsTheStateAndAMissingScreenSaverRefuses) {
  PowerService power(io.get_executor(), std::make_unique<NoActions>(), std::make_unique<NoActions>(),
                     std::make_unique<ScreenSaverKeepAwake>(connection));
  bool lost = false;
  power.onKeepAwakeLost = [&] { lost = true; };
  runAwaitable(io, power.setKeepAwake(true));
  bus.stop();
  ASSERT_TRUE(runUntil(io, [&] { return lost; }));
  EXPECT_FALSE(power.isKeptAwake());

  PrivateBus empty;
  auto other = DBusConnection::openAddress(io.get_executor(), empty.address());
  PowerService unheld(io.get_executor(), std::make_unique<NoActions>(), std::make_unique<NoActions>(),
                      std::make_unique<ScreenSaverKeepAwake>(other));
  runAwaitable(io, unheld.setKeepAwake(true));
  EXPECT_FALSE(unheld.isKeptAwake());
}

TEST(X11DisplaySleeper, SwitchesTheScreenSaverOnWhereThereIsNoDpms) {
  host::testing::XvfbDisplay xvfb;
  asio::io_context io;
  X11DisplaySleeper sleeper(X11DesktopConnection::open(io.get_executor(), xvfb.name()));
  sleeper.sleepDisplay();

  Display* display = XOpenDisplay(xvfb.name().c_str());
  ASSERT_NE(display, nullptr);
  XScreenSaverInfo* info = XScreenSaverAllocInfo();
  ASSERT_TRUE(XScreenSaverQueryInfo(display, DefaultRootWindow(display), info));
  EXPECT_EQ(info->state, ScreenSaverOn);
  XFree(info);
  XCloseDisplay(display);
}

}  // namespace
}  // namespace glidemate::host
