// The header under test comes first, ahead of any standard header: Asio
// picks its allocator (aligned_alloc or operator new) from what the
// standard library has declared when Asio's configuration is first read,
// and it must pick the same one as the separately compiled Asio, which
// frees what this file allocates.
#include "kit/session/pairing_provider.hpp"

#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>

namespace glidemate {
namespace {

// Implements only the four operations that have no default. (Parameters
// are named: g++ 12 destroys unnamed by-value coroutine parameters twice.)
class MinimalProvider : public PairingProvider {
 public:
  asio::awaitable<std::optional<SymmetricKey>> longTermKey([[maybe_unused]] std::string id) override { co_return std::nullopt; }
  asio::awaitable<std::optional<PairingCode>> beginPairing([[maybe_unused]] PeerInfo peer) override { co_return std::nullopt; }
  asio::awaitable<void> pairingSucceeded([[maybe_unused]] SymmetricKey key,
                                         [[maybe_unused]] PeerInfo peer) override { co_return; }
  asio::awaitable<void> pairingFailed([[maybe_unused]] PeerInfo peer) override { co_return; }
};

TEST(PairingProvider, DefaultsRefuseNobodyHoldNoKeyAndIgnoreEndedAttempts) {
  asio::io_context context;
  MinimalProvider provider;
  PairingProvider& base = provider;
  std::optional<std::optional<std::string>> refusal;
  std::optional<bool> holdsAny;
  std::optional<bool> codeActive;
  bool finished = false;
  asio::co_spawn(
      context,
      [&]() -> asio::awaitable<void> {
        const PeerInfo peer{"p", "Phone"};
        refusal = co_await base.refusal(peer);
        holdsAny = co_await base.holdsAnyLongTermKey();
        const PairingCode code = *PairingCode::fromValue(1);
        co_await base.pairingAttemptEnded(code);
        codeActive = co_await base.pairingCodeIsActive(code);
        finished = true;
      },
      asio::detached);
  context.run();
  ASSERT_TRUE(finished);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(*refusal, std::nullopt);
  EXPECT_EQ(holdsAny, false);
  EXPECT_EQ(codeActive, true);
}

}  // namespace
}  // namespace glidemate
