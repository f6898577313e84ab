// The desktop portal's remote-control session against a double of the
// portal on a private session bus (python-dbusmock with the template
// beside this file): the real portal's consent dialog can't be answered
// from a test.
#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <map>

#include "host/portal/portal_remote_desktop.hpp"
#include "kit/dbus/dbus_connection.hpp"
#include "tests/support/dbus_mock.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/run_awaitable.hpp"
#include "tests/support/collecting_logger.hpp"

namespace glidemate::host {
namespace {

using glidemate::testing::CollectingLogger;

using namespace std::chrono_literals;
using glidemate::testing::DBusMockClient;
using glidemate::testing::PrivateBus;
using glidemate::testing::runUntil;

using Vardict = std::map<std::string, sdbus::Variant>;

constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";
constexpr const char* controlInterface = "org.glidemate.tests.PortalControl";

class PortalTest : public ::testing::Test {
 protected:
  asio::io_context io;
  PrivateBus bus;
  std::shared_ptr<DBusConnection> connection;
  std::unique_ptr<DBusMockClient> mock;
  CollectingLogger logger;
  std::vector<std::string> savedTokens;

  void startPortal(const std::string& parameters = "{}") {
    bus.startMock({"-t", GLIDEMATE_DESKTOP_PORTAL_TEMPLATE, "-p", parameters, "--logfile",
                   (bus.folder() / "portal.log").string()},
                  portalName);
  }

  void SetUp() override {
    startPortal();
    connection = DBusConnection::openAddress(io.get_executor(), bus.address());
    mock = std::make_unique<DBusMockClient>(bus.address());
  }

  std::unique_ptr<PortalRemoteDesktop> session(const std::string& restoreToken = "") {
    PortalRemoteDesktop::Options options;
    options.retryInterval = 0ms;
    options.restoreToken = restoreToken;
    options.restoreTokenChanged = [this](const std::string& token) { savedTokens.push_back(token); };
    return std::make_unique<PortalRemoteDesktop>(io.get_executor(), connection, logger, options);
  }

  void waitReady(PortalRemoteDesktop& portal) {
    ASSERT_TRUE(runUntil(io, [&] { return portal.isReady(); })) << "no session:\n" << logger.all();
  }

  std::vector<std::vector<sdbus::Variant>> calls(const std::string& method) {
    return mock->calls(portalName, portalPath, method);
  }

  // Waits (on the bus, not the clock) until the portal has had `count`
  // calls of `method`, and returns them.
  std::vector<std::vector<sdbus::Variant>> awaitCalls(const std::string& method, std::size_t count) {
    std::vector<std::vector<sdbus::Variant>> seen;
    EXPECT_TRUE(runUntil(io, [&] {
      seen = calls(method);
      return seen.size() >= count;
    })) << method;
    return seen;
  }

  void control(const std::string& method, std::optional<std::uint32_t> argument = std::nullopt) {
    auto proxy = sdbus::createProxy(mock->connection(), portalName, portalPath);
    auto call = proxy->createMethodCall(controlInterface, method);
    if (argument) call << *argument;
    proxy->callMethod(call);
  }

  std::map<std::string, std::string> receivedSignatures() {
    auto proxy = sdbus::createProxy(mock->connection(), portalName, portalPath);
    std::map<std::string, std::string> signatures;
    proxy->callMethod("ReceivedSignatures").onInterface(controlInterface).storeResultsTo(signatures);
    return signatures;
  }

  static Vardict options(const std::vector<sdbus::Variant>& call, std::size_t index) {
    return call.at(index).get<Vardict>();
  }
};

TEST_F(PortalTest, AFullStartAsksOnceKeepsTheTokenAndOffersItNextTime) {
  auto portal = session();
  waitReady(*portal);

  const auto created = calls("CreateSession");
  ASSERT_EQ(created.size(), 1u);
  const Vardict createOptions = options(created[0], 0);
  ASSERT_TRUE(createOptions.count("handle_token") && createOptions.count("session_handle_token"));
  const std::string sessionToken = createOptions.at("session_handle_token").get<std::string>();

  const auto selected = calls("SelectDevices");
  ASSERT_EQ(selected.size(), 1u);
  const std::string sessionPath = selected[0].at(0).get<sdbus::ObjectPath>();
  EXPECT_TRUE(sessionPath.starts_with("/org/freedesktop/portal/desktop/session/"));
  EXPECT_TRUE(sessionPath.ends_with("/" + sessionToken));
  const Vardict devices = options(selected[0], 1);
  EXPECT_EQ(devices.at("types").get<std::uint32_t>(), 3u);  // keyboard | pointer
  EXPECT_EQ(devices.at("persist_mode").get<std::uint32_t>(), 2u);
  EXPECT_EQ(devices.count("restore_token"), 0u) << "nothing to restore on a first start";

  const auto sources = calls("SelectSources");
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(std::string(sources[0].at(0).get<sdbus::ObjectPath>()), sessionPath);
  const Vardict sourceOptions = options(sources[0], 1);
  EXPECT_EQ(sourceOptions.at("types").get<std::uint32_t>(), 1u);        // a monitor
  EXPECT_EQ(sourceOptions.at("cursor_mode").get<std::uint32_t>(), 4u);  // metadata

  const auto started = calls("Start");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(std::string(started[0].at(0).get<sdbus::ObjectPath>()), sessionPath);
  EXPECT_EQ(savedTokens, std::vector<std::string>{"token1"});
  EXPECT_EQ(awaitCalls("OpenPipeWireRemote", 1).at(0).at(0).get<sdbus::ObjectPath>(), sessionPath);
  // The stream's monitor, as the portal placed it.
  EXPECT_EQ(portal->monitors(), (std::vector<ScreenRect>{{1920, 0, 1280, 800}}));

  // Stopping closes the session at the portal.
  portal.reset();
  io.poll();
  EXPECT_TRUE(runUntil(io, [&] { return mock->calls(portalName, sessionPath, "Close").size() == 1; }));

  // The next start offers the token and keeps the new one it is given.
  auto next = session(savedTokens.back());
  waitReady(*next);
  const auto again = calls("SelectDevices");
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(options(again[1], 1).at("restore_token").get<std::string>(), "token1");
  EXPECT_EQ(savedTokens, (std::vector<std::string>{"token1", "token2"}));
}

TEST_F(PortalTest, AnOlderPortalIsNotAskedToPersist) {
  bus.stopMocks();
  startPortal(R"({"version": 1})");
  auto portal = session("token-from-before");
  waitReady(*portal);
  const Vardict devices = options(calls("SelectDevices").at(0), 1);
  EXPECT_EQ(devices.count("persist_mode"), 0u);
  EXPECT_EQ(devices.count("restore_token"), 0u);
  EXPECT_TRUE(savedTokens.empty());
}

TEST_F(PortalTest, InputCallsCarryThePortalsArguments) {
  auto portal = session();
  waitReady(*portal);
  const std::string sessionPath = calls("Start").at(0).at(0).get<sdbus::ObjectPath>();

  portal->pointerMotionRelative(3.5, -2);
  EXPECT_TRUE(portal->pointerMotionAbsolute({2020, 100}));
  portal->pointerButton(BTN_LEFT, true);
  portal->pointerButton(BTN_LEFT, false);
  portal->pointerAxis(0, 12.5, false);
  portal->pointerAxis(0, 0, true);
  portal->keyboardKeycode(KEY_ENTER, true);
  portal->keyboardKeysym(0x61, true);  // XKB_KEY_a
  portal->keyboardKeysym(0x61, false);

  const auto motion = awaitCalls("NotifyPointerMotion", 1);
  const auto absolute = awaitCalls("NotifyPointerMotionAbsolute", 1);
  const auto buttons = awaitCalls("NotifyPointerButton", 2);
  const auto axes = awaitCalls("NotifyPointerAxis", 2);
  const auto keys = awaitCalls("NotifyKeyboardKeycode", 1);
  const auto keysyms = awaitCalls("NotifyKeyboardKeysym", 2);
  for (const auto* all : {&motion, &absolute, &buttons, &axes, &keys, &keysyms}) {
    for (const auto& call : *all) EXPECT_EQ(std::string(call.at(0).get<sdbus::ObjectPath>()), sessionPath);
  }
  EXPECT_EQ(motion[0].at(2).get<double>(), 3.5);
  EXPECT_EQ(motion[0].at(3).get<double>(), -2.0);
  // Points from the corner of the stream's monitor, which sits at x 1920.
  EXPECT_EQ(absolute[0].at(2).get<std::uint32_t>(), 57u);
  EXPECT_EQ(absolute[0].at(3).get<double>(), 100.0);
  EXPECT_EQ(absolute[0].at(4).get<double>(), 100.0);
  EXPECT_EQ(buttons[0].at(2).get<std::int32_t>(), BTN_LEFT);
  EXPECT_EQ(buttons[0].at(3).get<std::uint32_t>(), 1u);
  EXPECT_EQ(buttons[1].at(3).get<std::uint32_t>(), 0u);
  EXPECT_EQ(axes[0].at(3).get<double>(), 12.5);
  EXPECT_EQ(options(axes[0], 1).count("finish"), 0u);
  EXPECT_EQ(options(axes[1], 1).at("finish").get<bool>(), true);
  EXPECT_EQ(keys[0].at(2).get<std::int32_t>(), KEY_ENTER);
  EXPECT_EQ(keys[0].at(3).get<std::uint32_t>(), 1u);
  EXPECT_EQ(keysyms[0].at(2).get<std::int32_t>(), 0x61);
  EXPECT_EQ(keysyms[1].at(3).get<std::uint32_t>(), 0u);

  // The portal's own types, which differ from GNOME's (state as u, key as i).
  const std::map<std::string, std::string> expected{
      {"NotifyPointerMotion", "oa{sv}dd"},    {"NotifyPointerMotionAbsolute", "oa{sv}udd"},
      {"NotifyPointerButton", "oa{sv}iu"},    {"NotifyPointerAxis", "oa{sv}dd"},
      {"NotifyKeyboardKeycode", "oa{sv}iu"},  {"NotifyKeyboardKeysym", "oa{sv}iu"},
  };
  EXPECT_EQ(receivedSignatures(), expected);
}

TEST_F(PortalTest, ARefusalIsSaidOnceAndNotAskedAgainUntilRequested) {
  control("SetStartResponse", 1);
  auto portal = session();
  ASSERT_TRUE(runUntil(io, [&] { return portal->isRefused(); })) << logger.all();
  EXPECT_FALSE(portal->isReady());
  EXPECT_EQ(logger.count("did not allow remote control"), 1u) << logger.all();

  // Input wanted again and again (with no pause between retries) asks nobody.
  for (int i = 0; i < 5; ++i) {
    portal->inputWanted();
    io.poll();
  }
  portal->pointerButton(BTN_LEFT, true);
  EXPECT_FALSE(runUntil(io, [&] { return calls("Start").size() > 1; }, 300ms));
  EXPECT_EQ(logger.count("did not allow remote control"), 1u);
  EXPECT_TRUE(calls("NotifyPointerButton").empty());

  // Asked for explicitly, the user is asked again.
  control("SetStartResponse", 0);
  portal->askAgain();
  waitReady(*portal);
  EXPECT_EQ(calls("Start").size(), 2u);
  EXPECT_FALSE(portal->isRefused());
}

TEST_F(PortalTest, ASessionClosedByTheDesktopIsReplacedWhenInputIsWanted) {
  auto portal = session();
  waitReady(*portal);
  EXPECT_EQ(portal->generation(), 1u);

  control("CloseSession");
  ASSERT_TRUE(runUntil(io, [&] { return !portal->isReady(); }));
  EXPECT_EQ(logger.count("closed the remote-control session"), 1u) << logger.all();
  portal->keyboardKeycode(KEY_A, true);

  portal->inputWanted();
  waitReady(*portal);
  EXPECT_EQ(portal->generation(), 2u);
  EXPECT_EQ(calls("CreateSession").size(), 2u);
  // The replacement is restored with the token the first start gave.
  EXPECT_EQ(options(calls("SelectDevices").at(1), 1).at("restore_token").get<std::string>(), "token1");
  EXPECT_TRUE(calls("NotifyKeyboardKeycode").empty()) << "input sent while closed must be dropped";
}

TEST_F(PortalTest, APortalLeavingTheBusIsWaitedForAndUsedAgain) {
  auto portal = session();
  waitReady(*portal);

  bus.stopMocks();
  ASSERT_TRUE(runUntil(io, [&] { return !portal->isReady(); }));
  EXPECT_EQ(logger.count("left the session bus"), 1u) << logger.all();
  portal->pointerMotionRelative(1, 1);  // dropped, and no crash
  io.poll();

  startPortal();
  waitReady(*portal);
  EXPECT_EQ(portal->generation(), 2u);
}

TEST_F(PortalTest, APortalGoneWhileTheUserIsAskedIsWaitedFor) {
  // A dialog nobody answers: the portal leaves while Start waits.
  mock->addMethod(portalName, portalPath, "org.freedesktop.portal.RemoteDesktop", "Start", "osa{sv}", "o",
                  "ret = dbus.ObjectPath('/org/freedesktop/portal/desktop/request/unanswered')");
  auto portal = session();
  ASSERT_TRUE(runUntil(io, [&] { return calls("Start").size() == 1; }));
  bus.stopMocks();
  ASSERT_TRUE(runUntil(io, [&] { return logger.count("left the session bus") == 1; })) << logger.all();
  EXPECT_FALSE(portal->isReady());

  startPortal();
  waitReady(*portal);
}

}  // namespace
}  // namespace glidemate::host
