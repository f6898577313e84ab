#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <filesystem>
#include <fstream>

#include "host/server/host_pairing_coordinator.hpp"
#include "kit/session/keychain_error.hpp"
#include "kit/session/xdg/file_keychain.hpp"
#include "tests/support/memory_keychain.hpp"
#include "tests/support/run_awaitable.hpp"

namespace glidemate::host {
namespace {

using namespace std::chrono_literals;

class HostPairingCoordinatorTest : public ::testing::Test {
 protected:
  asio::io_context io;
  testing::MemoryKeychain keys;
  std::chrono::steady_clock::time_point monotonic{std::chrono::hours(1000)};
  std::chrono::system_clock::time_point wall{std::chrono::seconds(1'800'000'000)};
  HostPairingCoordinator coordinator{io.get_executor(), keys,
                                     HostClock{[this] { return wall; }, [this] { return monotonic; }}};

  void advance(std::chrono::seconds d) {
    monotonic += d;
    wall += d;
  }
  static SymmetricKey key() { return SymmetricKey(Bytes(32, 7)); }
};

TEST_F(HostPairingCoordinatorTest, OneCodeAtATime) {
  const auto first = coordinator.beginPairing("Ann's phone", "10.0.0.5");
  ASSERT_TRUE(first);
  EXPECT_EQ(coordinator.activeCode.get(), first);
  EXPECT_EQ(coordinator.pairingWith.get(), "Ann's phone");
  EXPECT_EQ(coordinator.activeSource.get(), "10.0.0.5");

  EXPECT_EQ(coordinator.beginPairing("Bob's phone", "10.0.0.6"), std::nullopt);

  // A stale code ending changes nothing; the current one ending frees the slot.
  const auto stale = PairingCode::fromValue((first->value() + 1) % PairingCode::valueLimit);
  coordinator.endAttempt(*stale);
  EXPECT_EQ(coordinator.activeCode.get(), first);
  coordinator.endAttempt(*first);
  EXPECT_EQ(coordinator.activeCode.get(), std::nullopt);
  EXPECT_EQ(coordinator.pairingWith.get(), std::nullopt);
  EXPECT_TRUE(coordinator.beginPairing("Bob's phone", "10.0.0.6"));
}

TEST_F(HostPairingCoordinatorTest, NotMeTurnsTheSourceAwayForTenMinutes) {
  ASSERT_TRUE(coordinator.beginPairing("Stranger", "10.0.0.9"));
  coordinator.decline();
  EXPECT_EQ(coordinator.activeCode.get(), std::nullopt);
  EXPECT_EQ(coordinator.beginPairing("Stranger", "10.0.0.9"), std::nullopt);
  advance(599s);
  EXPECT_EQ(coordinator.beginPairing("Stranger", "10.0.0.9"), std::nullopt);
  const auto other = coordinator.beginPairing("Friend", "10.0.0.10");
  ASSERT_TRUE(other);
  coordinator.endAttempt(*other);
  advance(2s);
  EXPECT_TRUE(coordinator.beginPairing("Stranger", "10.0.0.9"));

  // Without a source (Bluetooth) nothing is remembered, but the code goes.
  coordinator.endAttempt(*coordinator.activeCode.get());
  ASSERT_TRUE(coordinator.beginPairing("Radio", std::nullopt));
  const auto before = coordinator.turnedAway.get();
  coordinator.decline();
  EXPECT_EQ(coordinator.turnedAway.get(), before);
  EXPECT_EQ(coordinator.activeCode.get(), std::nullopt);
}

TEST_F(HostPairingCoordinatorTest, ThreeWrongCodesBlockUntilAllowedOrExpired) {
  for (int i = 0; i < 3; ++i) coordinator.recordWrongCode();
  EXPECT_EQ(coordinator.throttledUntil.get(), wall + 300s);
  EXPECT_EQ(coordinator.beginPairing("Ann", "a"), std::nullopt);
  coordinator.allowPairing();
  EXPECT_EQ(coordinator.throttledUntil.get(), std::nullopt);
  const auto code = coordinator.beginPairing("Ann", "a");
  ASSERT_TRUE(code);
  coordinator.endAttempt(*code);

  for (int i = 0; i < 3; ++i) coordinator.recordWrongCode();
  advance(301s);
  EXPECT_TRUE(coordinator.beginPairing("Ann", "a"));
  EXPECT_EQ(coordinator.throttledUntil.get(), std::nullopt);
}

TEST_F(HostPairingCoordinatorTest, SuccessStoresTheKeyAndResetsTheThrottle) {
  coordinator.recordWrongCode();
  coordinator.recordWrongCode();
  std::vector<std::vector<PairedPeer>> seen;
  auto subscription = coordinator.pairedDevices.observe([&](const auto& p) { seen.push_back(p); });
  coordinator.recordPairing(key(), PeerInfo{"PHONE", "Ann"});
  EXPECT_EQ(coordinator.store().key("PHONE"), key());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::vector<PairedPeer>{{"PHONE", "Ann", wall, wall}}));
  EXPECT_TRUE(coordinator.throttle().failures().empty());
  // The count starts afresh: two more wrong codes do not block.
  coordinator.recordWrongCode();
  coordinator.recordWrongCode();
  EXPECT_EQ(coordinator.throttledUntil.get(), std::nullopt);
  // An unchanged list notifies nobody.
  coordinator.reloadPairedDevices();
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(HostPairingCoordinatorTest, SaveFailureIsShownAndClearedByTheNextSave) {
  keys.failWritesWith = KeychainStatus::diskFull;
  coordinator.recordPairing(key(), PeerInfo{"PHONE", "Ann"});
  EXPECT_EQ(coordinator.storageError.get(), std::string(KeychainError(KeychainStatus::diskFull).what()));
  EXPECT_TRUE(coordinator.pairedDevices->empty());
  keys.failWritesWith = KeychainStatus::success;
  coordinator.recordPairing(key(), PeerInfo{"PHONE", "Ann"});
  EXPECT_EQ(coordinator.storageError.get(), std::nullopt);
}

TEST(HostPairingCoordinator, UnwritableKeyFolderIsReportedUntilItIsWritableAgain) {
  asio::io_context io;
  char pattern[] = "/tmp/glidemate-coordinator-XXXXXX";
  const std::filesystem::path dir = mkdtemp(pattern);
  // A file where the key folder should be: nothing can be written below it.
  std::ofstream(dir / "keys") << "in the way";
  FileKeychain keys(dir / "keys");
  HostPairingCoordinator coordinator(io.get_executor(), keys);
  const SymmetricKey key(Bytes(32, 9));
  coordinator.recordPairing(key, PeerInfo{"PHONE", "Ann"});
  ASSERT_TRUE(coordinator.storageError.get());
  EXPECT_TRUE(coordinator.pairedDevices->empty());

  std::filesystem::remove(dir / "keys");
  coordinator.recordPairing(key, PeerInfo{"PHONE", "Ann"});
  EXPECT_EQ(coordinator.storageError.get(), std::nullopt);
  EXPECT_EQ(coordinator.pairedDevices->size(), 1u);
  std::filesystem::remove_all(dir);
}

TEST_F(HostPairingCoordinatorTest, ProviderOperationsReachTheCoordinator) {
  PairingProvider& provider = coordinator;
  std::optional<PairingCode> code;
  std::optional<SymmetricKey> stored;
  bool done = false;
  asio::co_spawn(io, [&]() -> asio::awaitable<void> {
    const PeerInfo phone{"PHONE", "Ann"};
    // Named values only: g++ 12 destroys a temporary argument of a
    // co_await'ed call twice.
    SymmetricKey newKey = key();
    code = co_await provider.beginPairing(phone);
    co_await provider.pairingSucceeded(std::move(newKey), phone);
    co_await provider.pairingAttemptEnded(*code);
    const std::string phoneId = "PHONE";
    stored = co_await provider.longTermKey(phoneId);
    done = true;
  }, asio::detached);
  ASSERT_TRUE(testing::runUntil(io, [&] { return done; }));
  EXPECT_TRUE(code);
  EXPECT_EQ(stored, key());
  EXPECT_EQ(coordinator.activeCode.get(), std::nullopt);
}

}  // namespace
}  // namespace glidemate::host
