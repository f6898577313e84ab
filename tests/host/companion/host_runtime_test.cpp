#include "host/companion/host_runtime.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/host/companion/temp_folder.hpp"
#include "tests/support/dbus_mock.hpp"
#include "tests/support/private_bus.hpp"

namespace glidemate::host {
namespace {

// Snapshots as they arrive from the host's thread.
class Collector {
 public:
  HostRuntime::Sink sink() {
    return [this](std::shared_ptr<const HostSnapshot> snapshot) {
      std::lock_guard lock(mutex_);
      latest_ = std::move(snapshot);
      threads_.insert(std::this_thread::get_id());
      changed_.notify_all();
    };
  }

  // The first snapshot for which `holds` is true. The limit only keeps a
  // broken test from hanging.
  template <class Predicate>
  std::shared_ptr<const HostSnapshot> waitFor(Predicate holds) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return latest_ && holds(*latest_); });
    return latest_ && holds(*latest_) ? latest_ : nullptr;
  }

  std::set<std::thread::id> threads() {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<const HostSnapshot> latest_;
  std::set<std::thread::id> threads_;
};

class HostRuntimeTest : public ::testing::Test {
 protected:
  testing::TempFolder dir;
  Collector collector;

  void SetUp() override {
    // Nothing of this machine's desktop: no display, no buses, no sound
    // server.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (dir / "no-bus").string()).c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + (dir / "no-pulse").string()).c_str(), 1);
  }

  HostRuntime::Options options(std::uint16_t port = 0) {
    return {.name = "Desk",
            .port = port,
            .advertise = false,
            .folders = {dir / "keys", dir / "settings.json", dir / "shortcuts"},
            .autostartFolder = dir / "autostart",
            .autostartEntry = "[Desktop Entry]\n"};
  }
};

// The host runs on a thread of its own: snapshots come from there, and
// actions from here are carried out there.
TEST_F(HostRuntimeTest, SnapshotsComeFromTheHostsThreadAndActionsGoThere) {
  {
    HostRuntime runtime(options(), collector.sink());
    const auto listening =
        collector.waitFor([](const HostSnapshot& s) { return s.listener == HostSnapshot::Listener::listening; });
    ASSERT_TRUE(listening);
    EXPECT_NE(listening->port, 0);
    EXPECT_EQ(listening->hostName, "Desk");
    // What this desktop lacks, and why.
    EXPECT_FALSE(listening->accessibility.allowed);
    EXPECT_EQ(listening->accessibility.why,
              "DISPLAY is not set, so there is no X display to move the pointer on. Start Glidemate inside your "
              "desktop session.");
    EXPECT_EQ(listening->automation, HostSnapshot::Automation::denied);
    EXPECT_NE(listening->automationWhy.find("The session bus does not answer"), std::string::npos);

    runtime.perform(HostAction{HostAction::SetPaused{true}});
    EXPECT_TRUE(collector.waitFor([](const HostSnapshot& s) { return s.isPaused; }));
  }
  const auto threads = collector.threads();
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_FALSE(threads.contains(std::this_thread::get_id()));
}

// On a Wayland desktop with no way to post input the app says so, rather
// than asking for an X display that would not help; the host still serves.
TEST_F(HostRuntimeTest, AWaylandDesktopWithoutAWayInIsShownAsSuch) {
  setenv("XDG_SESSION_TYPE", "wayland", 1);
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  HostRuntime runtime(options(), collector.sink());
  const auto listening =
      collector.waitFor([](const HostSnapshot& s) { return s.listener == HostSnapshot::Listener::listening; });
  ASSERT_TRUE(listening);
  EXPECT_FALSE(listening->accessibility.allowed);
  EXPECT_NE(listening->accessibility.why.find("This Wayland desktop offers the host no way to post input"),
            std::string::npos)
      << listening->accessibility.why;
}

// Through the desktop portal the desktop asks the user before input goes
// through: the app says so while the question is open, shows a refusal,
// has the desktop ask again when told to, and shows input allowed once the
// user allows it. The double of the portal plays the user.
TEST_F(HostRuntimeTest, ThePortalsQuestionIsFollowedAndAskedAgain) {
  glidemate::testing::PrivateBus bus;
  const std::string portalName = "org.freedesktop.portal.Desktop";
  const std::string portalPath = "/org/freedesktop/portal/desktop";
  bus.startMock({"-t", GLIDEMATE_DESKTOP_PORTAL_TEMPLATE, "--logfile", (bus.folder() / "portal.log").string()},
                  portalName);
  glidemate::testing::DBusMockClient mock(bus.address());
  auto control = sdbus::createProxy(mock.connection(), portalName, portalPath);
  const std::string controlInterface = "org.glidemate.tests.PortalControl";
  control->callMethod("HoldStart").onInterface(controlInterface).withArguments(true);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  setenv("XDG_SESSION_TYPE", "wayland", 1);
  setenv("WAYLAND_DISPLAY", "wayland-none", 1);

  HostRuntime runtime(options(), collector.sink());
  const auto asking = collector.waitFor([](const HostSnapshot& s) {
    return s.listener == HostSnapshot::Listener::listening &&
           s.inputQuestion == HostSnapshot::InputQuestion::pending;
  });
  ASSERT_TRUE(asking);
  EXPECT_FALSE(asking->accessibility.allowed);
  EXPECT_NE(asking->accessibility.why.find("will ask you to allow remote control"), std::string::npos)
      << asking->accessibility.why;

  // The user refuses in the desktop's dialog (the call returns once the
  // dialog is open and answered).
  control->callMethod("AnswerStart").onInterface(controlInterface).withArguments(std::uint32_t{1});
  const auto refused =
      collector.waitFor([](const HostSnapshot& s) { return s.inputQuestion == HostSnapshot::InputQuestion::refused; });
  ASSERT_TRUE(refused);
  EXPECT_FALSE(refused->accessibility.allowed);
  EXPECT_NE(refused->accessibility.why.find("was refused"), std::string::npos) << refused->accessibility.why;

  // Asked again, the desktop asks the user once more; this time it is
  // allowed.
  runtime.perform(HostAction{HostAction::AskForInputAgain{}});
  control->callMethod("AnswerStart").onInterface(controlInterface).withArguments(std::uint32_t{0});
  EXPECT_TRUE(collector.waitFor([](const HostSnapshot& s) {
    return s.accessibility.allowed && s.accessibility.why.empty() &&
           s.inputQuestion == HostSnapshot::InputQuestion::none;
  }));
  EXPECT_EQ(mock.calls(portalName, portalPath, "Start").size(), 2u);
}

// A port that is taken: the host still runs, and says why it is offline.
TEST_F(HostRuntimeTest, APortInUseIsReported) {
  asio::io_context io;
  asio::ip::tcp::acceptor taken(io, {asio::ip::tcp::v6(), 0});
  const auto port = taken.local_endpoint().port();
  HostRuntime runtime(options(port), collector.sink());
  const auto failed =
      collector.waitFor([](const HostSnapshot& s) { return s.listener == HostSnapshot::Listener::failed; });
  ASSERT_TRUE(failed);
  EXPECT_NE(failed->listenerFailure.find("in use"), std::string::npos) << failed->listenerFailure;
  // It still answers.
  runtime.perform(HostAction{HostAction::SetStartAtLogin{true}});
  EXPECT_TRUE(collector.waitFor([](const HostSnapshot& s) { return s.loginItemEnabled; }));
}

}  // namespace
}  // namespace glidemate::host
