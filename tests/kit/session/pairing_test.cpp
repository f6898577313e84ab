#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <optional>
#include <set>

#include "kit/session/pairing.hpp"
#include "kit/session/pairing_code.hpp"
#include "kit/session/pairing_throttle.hpp"
#include "kit/session/spent_pairing_codes.hpp"
#include "tests/kit/session/hex.hpp"

namespace glidemate {
namespace {

using testing::fromHex;

TEST(PairingCode, ValuesBelowAMillionOnly) {
  EXPECT_EQ(PairingCode::fromValue(0)->value(), 0u);
  EXPECT_EQ(PairingCode::fromValue(999999)->value(), 999999u);
  EXPECT_EQ(PairingCode::fromValue(1000000), std::nullopt);
  EXPECT_EQ(PairingCode::fromValue(UINT32_MAX), std::nullopt);
}

TEST(PairingCode, TextMustBeExactlySixAsciiDigits) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"012345", 12345},
      {"000000", 0},
      {"999999", 999999},
      {"12345", std::nullopt},     // five characters
      {"1234567", std::nullopt},   // seven
      {"12 345", std::nullopt},    // a blank
      {" 12345", std::nullopt},    // no trimming
      {"12345 ", std::nullopt},
      {"+12345", std::nullopt},    // a sign
      {"-12345", std::nullopt},
      {"12a456", std::nullopt},
      {"0x1234", std::nullopt},
      {"", std::nullopt},
      {"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94\xEF\xBC\x95\xEF\xBC\x96", std::nullopt},  // full-width 123456
      {"\xD9\xA1\xD9\xA2\xD9\xA3", std::nullopt},  // Arabic-Indic 123: six bytes, three characters
  };
  for (const auto& c : cases) {
    const auto code = PairingCode::fromText(c.text);
    EXPECT_EQ(code ? std::optional(code->value()) : std::nullopt, c.value) << '"' << c.text << '"';
  }
}

TEST(PairingCode, DigitsKeepLeadingZeros) {
  EXPECT_EQ(PairingCode::fromValue(7)->digits(), "000007");
  EXPECT_EQ(PairingCode::fromText("012345")->digits(), "012345");
  EXPECT_EQ(PairingCode::fromValue(999999)->digits(), "999999");
}

TEST(PairingCode, BitsAreLeastSignificantFirst) {
  const auto five = *PairingCode::fromValue(5);
  EXPECT_EQ(five.bit(0), 1);
  EXPECT_EQ(five.bit(1), 0);
  EXPECT_EQ(five.bit(2), 1);
  EXPECT_EQ(five.bit(19), 0);
  EXPECT_EQ(PairingCode::fromValue(999999)->bit(19), 1);
  EXPECT_THROW(five.bit(20), std::out_of_range);
  EXPECT_THROW(five.bit(-1), std::out_of_range);
}

TEST(PairingCode, RandomRedrawsOutOfRangeValuesInsteadOfReducingThem) {
  // High bits are masked off; 0xFFFFF (1 048 575) and 1 000 000 are
  // redrawn, where a modulo would have given 48 575 and 0.
  std::deque<std::uint32_t> draws{0xFFFFFFFF, 1000000, 0xABC00000 | 123456};
  const PairingCode code = PairingCode::random([&] {
    const std::uint32_t next = draws.front();
    draws.pop_front();
    return next;
  });
  EXPECT_EQ(code.value(), 123456u);
  EXPECT_TRUE(draws.empty());
}

TEST(PairingCode, RandomComesFromTheSecureSourceAndStaysInRange) {
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 50; ++i) {
    const std::uint32_t value = PairingCode::random().value();
    EXPECT_LT(value, 1000000u);
    seen.insert(value);
  }
  EXPECT_GT(seen.size(), 45u);  // 50 draws from a million rarely collide
}

struct CommitmentInputs {
  Bytes nonce = fromHex("101112131415161718191a1b1c1d1e1f");
  Bytes clientEphemeral = fromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a");
  Bytes hostEphemeral = fromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f");
  Sha256::Digest of(Pairing::Side side, std::uint8_t bit) const {
    return Pairing::commitment(side, nonce, bit, clientEphemeral, hostEphemeral);
  }
};

// Expected digests computed with `openssl dgst -sha256` over
// label ‖ nonce ‖ bit ‖ client key ‖ host key.
TEST(Pairing, CommitmentHashesLabelNonceBitAndBothKeys) {
  const CommitmentInputs in;
  const auto client = in.of(Pairing::Side::client, 1);
  EXPECT_EQ(Bytes(client.begin(), client.end()),
            fromHex("f42a729df797892b326c2f2a921eef107f888b2e90dc497b3ec23d7349adb67c"));
  const auto host = in.of(Pairing::Side::host, 0);
  EXPECT_EQ(Bytes(host.begin(), host.end()),
            fromHex("49b5022dc06ec2476a6b866dd4cb5866bbaf95f1f9bf5cd7d90adf3d742e95e5"));
  EXPECT_EQ(Pairing::clientLabel.size(), 26u);
  EXPECT_EQ(Pairing::hostLabel.size(), 24u);
}

TEST(Pairing, SideAndBitEachChangeTheCommitment) {
  const CommitmentInputs in;
  EXPECT_NE(in.of(Pairing::Side::client, 0), in.of(Pairing::Side::host, 0));
  EXPECT_NE(in.of(Pairing::Side::client, 0), in.of(Pairing::Side::client, 1));
}

TEST(Pairing, VerifyAcceptsOnlyTheExactCommitment) {
  const CommitmentInputs in;
  const auto c = in.of(Pairing::Side::host, 1);
  const Bytes commitment(c.begin(), c.end());
  auto verify = [&](ByteView commit, Pairing::Side side, std::uint8_t bit) {
    return Pairing::verify(commit, side, in.nonce, bit, in.clientEphemeral, in.hostEphemeral);
  };
  EXPECT_TRUE(verify(commitment, Pairing::Side::host, 1));
  EXPECT_FALSE(verify(commitment, Pairing::Side::host, 0)) << "the other bit";
  EXPECT_FALSE(verify(commitment, Pairing::Side::client, 1)) << "echoed by the other side";
  EXPECT_FALSE(verify(ByteView(commitment).first(31), Pairing::Side::host, 1)) << "31 bytes";
  Bytes longer = commitment;
  longer.push_back(0);
  EXPECT_FALSE(verify(longer, Pairing::Side::host, 1)) << "33 bytes";
  Bytes lastByte = commitment;
  lastByte[31] ^= 0x80;
  EXPECT_FALSE(verify(lastByte, Pairing::Side::host, 1));
  EXPECT_FALSE(Pairing::verify(commitment, Pairing::Side::host, Pairing::freshNonce(), 1, in.clientEphemeral,
                               in.hostEphemeral))
      << "another nonce";
}

TEST(Pairing, FreshNoncesAreSixteenRandomBytes) {
  const Bytes a = Pairing::freshNonce();
  EXPECT_EQ(a.size(), 16u);
  EXPECT_NE(a, Pairing::freshNonce());
}

class PairingThrottleTest : public ::testing::Test {
 protected:
  using Time = PairingThrottle::TimePoint;
  static Time at(int seconds) { return Time() + std::chrono::hours(1) + std::chrono::seconds(seconds); }
  PairingThrottle throttle;
};

TEST_F(PairingThrottleTest, ThirdFailureWithinTheWindowBlocksForFiveMinutes) {
  throttle.recordFailure(at(0));
  throttle.recordFailure(at(10));
  EXPECT_FALSE(throttle.isBlocked(at(10)));
  EXPECT_EQ(throttle.failures().size(), 2u);
  throttle.recordFailure(at(20));
  EXPECT_TRUE(throttle.isBlocked(at(20)));
  EXPECT_TRUE(throttle.isBlocked(at(319)));
  EXPECT_EQ(throttle.blockExpiry(at(20)), at(320));
  EXPECT_TRUE(throttle.failures().empty());
  EXPECT_FALSE(throttle.isBlocked(at(320)));
  EXPECT_EQ(throttle.blockExpiry(at(320)), std::nullopt);
  throttle.prune(at(320));
  EXPECT_EQ(throttle, PairingThrottle());
}

TEST_F(PairingThrottleTest, FailuresOlderThanTheWindowFallOut) {
  throttle.recordFailure(at(0));
  throttle.recordFailure(at(10));
  throttle.recordFailure(at(400));
  EXPECT_FALSE(throttle.isBlocked(at(400)));
  EXPECT_EQ(throttle.failures(), std::vector<Time>{at(400)});
}

TEST_F(PairingThrottleTest, AFailureExactlyAtTheWindowEdgeStillCounts) {
  throttle.recordFailure(at(0));
  throttle.recordFailure(at(100));
  throttle.recordFailure(at(300));  // at(0) is exactly 300 s old: kept
  EXPECT_TRUE(throttle.isBlocked(at(300)));
}

TEST_F(PairingThrottleTest, SuccessLiftsABlockAndForgetsFailures) {
  for (int t : {0, 1, 2}) throttle.recordFailure(at(t));
  ASSERT_TRUE(throttle.isBlocked(at(3)));
  throttle.recordSuccess();
  EXPECT_FALSE(throttle.isBlocked(at(3)));
  throttle.recordFailure(at(4));
  throttle.recordSuccess();
  EXPECT_EQ(throttle, PairingThrottle());
}

TEST_F(PairingThrottleTest, PruneKeepsABlockThatHasNotEnded) {
  for (int t : {0, 1, 2}) throttle.recordFailure(at(t));
  throttle.prune(at(301));
  EXPECT_EQ(throttle.blockedUntil(), at(302));
  throttle.prune(at(302));
  EXPECT_EQ(throttle.blockedUntil(), std::nullopt);
}

// Kept as text between runs of a phone: what is read back refuses the same
// codes, junk in the text is skipped, and the oldest codes go first.
TEST(SpentPairingCodes, SurviveTheirTextAndForgetTheOldestFirst) {
  SpentPairingCodes spent;
  spent.spend(*PairingCode::fromValue(7));
  spent.spend(*PairingCode::fromValue(123456));
  spent.spend(*PairingCode::fromValue(7));
  EXPECT_EQ(spent.text(), "000007,123456");
  EXPECT_EQ(SpentPairingCodes::fromText(spent.text()), spent);
  const auto read = SpentPairingCodes::fromText("000007,,12345,abcdef,999999,");
  EXPECT_TRUE(read.contains(*PairingCode::fromValue(7)));
  EXPECT_TRUE(read.contains(*PairingCode::fromValue(999999)));
  EXPECT_FALSE(read.contains(*PairingCode::fromValue(12345)));

  for (std::uint32_t v = 100; v < 100 + SpentPairingCodes::capacity; ++v) spent.spend(*PairingCode::fromValue(v));
  EXPECT_FALSE(spent.contains(*PairingCode::fromValue(7)));
  EXPECT_FALSE(spent.contains(*PairingCode::fromValue(123456)));
  EXPECT_TRUE(spent.contains(*PairingCode::fromValue(100)));
}

}  // namespace
}  // namespace glidemate
