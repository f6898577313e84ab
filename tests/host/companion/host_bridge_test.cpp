#include "host/companion/host_bridge.hpp"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <fstream>

#include "tests/host/companion/fake_permission_probe.hpp"
#include "tests/host/companion/temp_folder.hpp"
#include "tests/support/memory_keychain.hpp"

namespace glidemate::host {
namespace {

class HostBridgeTest : public ::testing::Test {
 protected:
  asio::io_context io;
  testing::TempFolder dir;
  glidemate::testing::MemoryKeychain keys;
  std::unique_ptr<UserDefaults> defaults = std::make_unique<UserDefaults>(dir / "settings.json");
  NullLogger logger;
  std::shared_ptr<HostServer> server = HostServer::make(
      io.get_executor(), {.keys = keys, .defaults = *defaults, .logger = logger, .hostName = "Desk"});
  testing::FakePermissionProbe probe;
  PermissionsService permissions{io.get_executor(), probe};
  LoginItemService loginItem{dir / "autostart", "[Desktop Entry]\n"};
  std::vector<std::shared_ptr<const HostSnapshot>> snapshots;
  std::unique_ptr<HostBridge> bridge = makeBridge();

  std::unique_ptr<HostBridge> makeBridge() {
    return std::make_unique<HostBridge>(io.get_executor(),
                                        HostBridge::Sources{*server, permissions, loginItem, *defaults},
                                        [this](std::shared_ptr<const HostSnapshot> s) { snapshots.push_back(s); });
  }

  // Runs what is ready; the latest snapshot.
  const HostSnapshot& settle() {
    io.restart();
    io.poll();
    return *snapshots.back();
  }

  void TearDown() override {
    bridge.reset();
    server.reset();
    io.restart();
    io.poll();
  }
};

TEST_F(HostBridgeTest, OneSnapshotForTheChangesOfOneTurn) {
  EXPECT_EQ(settle().hostName, "Desk");
  ASSERT_EQ(snapshots.size(), 1u);

  asio::post(io, [&] {
    server->setPaused(true);
    server->disconnect("PHONE-A");
    permissions.refresh();
  });
  const auto& s = settle();
  EXPECT_EQ(snapshots.size(), 2u);
  EXPECT_TRUE(s.isPaused);
  EXPECT_EQ(s.disconnectedPeers, std::set<std::string>{"PHONE-A"});
  EXPECT_EQ(s.accessibility, (HostSnapshot::Permission{false, "no display"}));
  EXPECT_EQ(s.automation, HostSnapshot::Automation::granted);
  // The earlier snapshot is as it was.
  EXPECT_FALSE(snapshots.front()->isPaused);

  // Setting what is already set changes nothing, so nothing is sent.
  server->setPaused(true);
  settle();
  EXPECT_EQ(snapshots.size(), 2u);
}

TEST_F(HostBridgeTest, TheCodeOnScreenAndWhoItIsFor) {
  settle();
  const auto code = server->pairing.beginPairing("Ann's iPhone", "10.0.0.2");
  ASSERT_TRUE(code);
  const auto& s = settle();
  EXPECT_EQ(s.activeCode, code->digits());
  EXPECT_EQ(s.pairingWith, "Ann's iPhone");

  bridge->apply(HostAction{HostAction::DeclinePairing{}});
  EXPECT_FALSE(settle().activeCode);
  EXPECT_FALSE(settle().pairingWith);
}

TEST_F(HostBridgeTest, ActionsReachTheHost) {
  server->pairing.recordPairing(SymmetricKey(Bytes(32, 7)), PeerInfo{"PHONE-A", "Ann"});
  for (int i = 0; i < 3; ++i) server->pairing.recordWrongCode();
  ASSERT_TRUE(settle().throttledUntil);
  ASSERT_EQ(settle().pairedDevices.size(), 1u);

  bridge->apply(HostAction{HostAction::AllowPairing{}});
  EXPECT_FALSE(settle().throttledUntil);
  bridge->apply(HostAction{HostAction::SetPaused{true}});
  EXPECT_TRUE(settle().isPaused);
  bridge->apply(HostAction{HostAction::Disconnect{"PHONE-A"}});
  EXPECT_TRUE(settle().disconnectedPeers.contains("PHONE-A"));
  bridge->apply(HostAction{HostAction::Allow{"PHONE-A"}});
  EXPECT_TRUE(settle().disconnectedPeers.empty());
  bridge->apply(HostAction{HostAction::Forget{"PHONE-A"}});
  EXPECT_TRUE(settle().pairedDevices.empty());
  EXPECT_FALSE(server->pairing.store().key("PHONE-A"));
  bridge->apply(HostAction{HostAction::SetStartAtLogin{true}});
  EXPECT_TRUE(settle().loginItemEnabled);
  EXPECT_TRUE(std::filesystem::exists(dir / "autostart" / LoginItemService::entryName));
  probe.inputAnswer = {true, {}};
  bridge->apply(HostAction{HostAction::RecheckPermissions{}});
  EXPECT_TRUE(settle().accessibility.allowed);
}

TEST_F(HostBridgeTest, TheWelcomeSeenIsKept) {
  EXPECT_FALSE(settle().hasSeenWelcome);
  bridge->apply(HostAction{HostAction::MarkWelcomeSeen{}});
  EXPECT_TRUE(settle().hasSeenWelcome);
  EXPECT_EQ(UserDefaults(dir / "settings.json").boolean("hasSeenWelcome"), true);
  bridge.reset();
  defaults = std::make_unique<UserDefaults>(dir / "settings.json");
  bridge = makeBridge();
  EXPECT_TRUE(settle().hasSeenWelcome);
}

// Settings that can't be read are shown as such; the welcome counts as seen
// for this run, and the file is not touched.
TEST_F(HostBridgeTest, UnreadableSettingsAreShownAndLeftAlone) {
  bridge.reset();
  std::filesystem::create_directory(dir / "folder.json");
  defaults = std::make_unique<UserDefaults>(dir / "folder.json");
  bridge = makeBridge();
  ASSERT_TRUE(settle().settingsProblem);
  EXPECT_NE(settle().settingsProblem->find("it is a folder"), std::string::npos);
  bridge->apply(HostAction{HostAction::MarkWelcomeSeen{}});
  EXPECT_TRUE(settle().hasSeenWelcome);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.json"));
}

TEST_F(HostBridgeTest, NothingArrivesOnceTheBridgeIsGone) {
  settle();
  server->setPaused(true);
  bridge.reset();
  io.restart();
  io.poll();
  EXPECT_EQ(snapshots.size(), 1u);
}

}  // namespace
}  // namespace glidemate::host
