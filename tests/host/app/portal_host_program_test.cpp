// The host program on a Wayland desktop that offers input only through the
// desktop portal (KDE Plasma and others): a double of the portal on a
// private session bus, since the real portal's consent dialog can't be
// answered from a test; the host choosing the portal by itself, and the
// command-line phone.
#include <gtest/gtest.h>
#include <poll.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sdbus-c++/sdbus-c++.h>

#include "tests/support/child_process.hpp"
#include "tests/support/dbus_mock.hpp"
#include "tests/support/private_bus.hpp"
#include "tests/support/temp_dir.hpp"

namespace glidemate {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::DBusMockClient;
using testing::PrivateBus;
using testing::runProgram;
using testing::TempDir;

// Only turns a hang into a failure.
constexpr auto patience = 30000ms;
constexpr const char* portalName = "org.freedesktop.portal.Desktop";
constexpr const char* portalPath = "/org/freedesktop/portal/desktop";

class PortalHostProgram : public ::testing::Test {
 protected:
  PrivateBus bus;
  TempDir dir;
  std::unique_ptr<DBusMockClient> mock;
  std::unique_ptr<ChildProcess> host;
  std::string address;
  // The host's diagnostics and status lines read so far.
  std::vector<std::string> seen;

  void SetUp() override {
    bus.startMock({"-t", GLIDEMATE_DESKTOP_PORTAL_TEMPLATE, "--logfile", (bus.folder() / "portal.log").string()},
                  portalName);
    mock = std::make_unique<DBusMockClient>(bus.address());
    std::filesystem::create_directories(dir / "runtime");
    std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
  }

  // Starts the host on a Wayland session whose only way in is the portal,
  // and reads its lines until it listens and `until` has been said.
  void startHost(const std::string& until) {
    const std::vector<std::string> environment{
        bus.environment(),
        // Never the machine's own Bluetooth or keyboard layout.
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system_bus_socket",
        "XDG_SESSION_TYPE=wayland",
        "WAYLAND_DISPLAY=glidemate-test-no-compositor",
        "DISPLAY=",
        "XDG_RUNTIME_DIR=" + dir / "runtime",
    };
    // Diagnostics joined to the status lines, to see the host's choice.
    host = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", GLIDEMATE_HOST_BIN, "--no-advertise",
                                 "--json", "--data-dir", dir / "host"},
        environment, true, true);
    bool listening = false, said = false;
    while (!listening || !said) {
      const std::string line = host->readLineContaining("", patience);
      ASSERT_NE(line, "") << "the host stopped or hung before it listened and said '" << until << "'";
      seen.push_back(line);
      said = said || line.find(until) != std::string::npos;
      if (line.find("\"listening\"") != std::string::npos) {
        listening = true;
        address = "127.0.0.1:" + std::to_string(nlohmann::json::parse(line)["port"].get<int>());
      }
    }
  }

  // The next line of the host that contains `text`.
  std::string await(const std::string& text) {
    const std::string line = host->readLineContaining(text, patience);
    seen.push_back(line);
    return line;
  }

  bool said(const std::string& text) const {
    return std::any_of(seen.begin(), seen.end(), [&](const auto& l) { return l.find(text) != std::string::npos; });
  }

  std::vector<std::string> phone(std::vector<std::string> args) const {
    std::vector<std::string> argv{GLIDEMATE_PHONE_BIN, "--data-dir", dir / "phone"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  void pair() {
    ChildProcess pairing(phone({"pair", address}), {}, true, true);
    pairing.writeLine(nlohmann::json::parse(await("\"pairingCode\""))["code"]);
    ASSERT_EQ(pairing.wait(), 0);
  }

  void send(std::vector<std::string> items) {
    std::vector<std::string> args{"send", address};
    args.insert(args.end(), items.begin(), items.end());
    const auto sent = runProgram(phone(args));
    EXPECT_EQ(sent.status, 0) << sent.err;
  }

  std::vector<std::vector<sdbus::Variant>> calls(const std::string& method) {
    return mock->calls(portalName, portalPath, method);
  }

  // Waits until the portal has had `count` calls of `method` (the phone's
  // messages reach it after `send` returns): each call the portal takes is
  // announced by the mock's MethodCalled signal.
  std::vector<std::vector<sdbus::Variant>> awaitCalls(const std::string& method, std::size_t count) {
    auto connection = sdbus::createSessionBusConnectionWithAddress(bus.address());
    auto slot = connection->addMatch("type='signal',interface='org.freedesktop.DBus.Mock',member='MethodCalled'",
                                     [](sdbus::Message&) {});
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
      auto now = calls(method);
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (now.size() >= count || left.count() <= 0) return now;
      if (connection->processPendingRequest()) continue;
      pollfd descriptor{connection->getEventLoopPollData().fd, POLLIN, 0};
      ::poll(&descriptor, 1, static_cast<int>(left.count()));
    }
  }

  void setStartResponse(std::uint32_t response) {
    auto proxy = sdbus::createProxy(mock->connection(), portalName, portalPath);
    proxy->callMethod("SetStartResponse").onInterface("org.glidemate.tests.PortalControl").withArguments(response);
  }

  std::string keptToken() {
    std::ifstream in(dir.path() / "host" / "settings.json");
    const auto settings = nlohmann::json::parse(in);
    return settings.value("portalRestoreToken", "");
  }
};

TEST_F(PortalHostProgram, ThePortalCarriesAPhonesInputAndTheAnswerIsRememberedForTheNextStart) {
  startHost("remote control allowed");
  EXPECT_TRUE(said("the desktop will ask the user to allow remote control of this computer, once per start"));
  pair();
  send({"move", "10", "5", "click", "left"});
  EXPECT_FALSE(awaitCalls("NotifyPointerMotion", 1).empty());
  const auto buttons = awaitCalls("NotifyPointerButton", 2);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(buttons[0].at(2).get<std::int32_t>(), 272);  // BTN_LEFT
  EXPECT_EQ(buttons[0].at(3).get<std::uint32_t>(), 1u);
  EXPECT_EQ(buttons[1].at(3).get<std::uint32_t>(), 0u);

  // The screen preview reads the session's stream through a PipeWire
  // connection of its own (the session's own reader has the first), not
  // XWayland's display; whether frames come is the capture's own test.
  EXPECT_TRUE(said("The screen preview shows the desktop portal's screen cast"));
  const std::size_t remotes = calls("OpenPipeWireRemote").size();
  {
    ChildProcess watching(phone({"preview", address, "--frames", "1", "--out", dir / "frames"}), {}, true, true);
    EXPECT_EQ(awaitCalls("OpenPipeWireRemote", remotes + 1).size(), remotes + 1);
  }
  EXPECT_EQ(calls("CreateSession").size(), 1u) << "no second session for the preview";
  EXPECT_EQ(host->stop(), 0);
  EXPECT_EQ(keptToken(), "token1");

  startHost("remote control allowed");
  EXPECT_TRUE(said("unless it remembers the answer given before"));
  const auto selected = calls("SelectDevices");
  ASSERT_EQ(selected.size(), 2u);
  using Vardict = std::map<std::string, sdbus::Variant>;
  EXPECT_EQ(selected[1].at(1).get<Vardict>().at("restore_token").get<std::string>(), "token1");
  EXPECT_EQ(host->stop(), 0);
  EXPECT_EQ(keptToken(), "token2");
}

TEST_F(PortalHostProgram, AfterARefusalInputIsRefusedUntilTheHostIsToldToAskAgain) {
  setStartResponse(1);
  startHost("the user did not allow remote control");
  pair();
  send({"click", "left"});
  await("input is dropped until it is");
  EXPECT_EQ(calls("Start").size(), 1u) << "asked again without being told to";

  setStartResponse(0);
  host->writeLine("ask-input");
  await("remote control allowed");
  send({"click", "left"});
  EXPECT_EQ(awaitCalls("NotifyPointerButton", 2).size(), 2u);
  EXPECT_EQ(calls("Start").size(), 2u);
  EXPECT_EQ(host->stop(), 0);
}

}  // namespace
}  // namespace glidemate
