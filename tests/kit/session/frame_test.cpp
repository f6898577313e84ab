#include <gtest/gtest.h>

#include <optional>

#include "kit/session/crypto_error.hpp"
#include "kit/session/frame_cipher.hpp"
#include "kit/session/frame_header.hpp"
#include "kit/session/replay_window.hpp"
#include "kit/session/sequence_checker.hpp"
#include "kit/wire/codec_error.hpp"
#include "tests/kit/session/hex.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::fromHex;

template <class F>
std::optional<CryptoError> cryptoErrorOf(F&& f) {
  return testing::thrown<CryptoError>(std::forward<F>(f));
}

Bytes toBytes(ByteView view) { return Bytes(view.begin(), view.end()); }

TEST(FrameHeader, WireFormIsLittleEndianWithFlagBitZero) {
  const FrameHeader header(true, 0x1234, 0x0102030405060708);
  EXPECT_EQ(header.version, 1);
  EXPECT_EQ(toBytes(header.encoded()), fromHex("01 01 3412 0807060504030201"));
  EXPECT_EQ(toBytes(FrameHeader(false, 0, 0).encoded()), fromHex("01 00 0000 0000000000000000"));
  EXPECT_EQ(FrameHeader::decode(header.encoded()), header);
}

TEST(FrameHeader, DecodingReadsOnlyFlagBitZeroAndIgnoresLaterBytes) {
  const struct {
    const char* hex;
    FrameHeader expected;
  } cases[] = {
      {"01 03 0100 0200000000000000", FrameHeader(true, 1, 2)},
      {"01 FE 0100 0200000000000000", FrameHeader(false, 1, 2)},
      {"01 01 FFFF FFFFFFFFFFFFFFFF EE EE", FrameHeader(true, 0xFFFF, UINT64_MAX)},
  };
  for (const auto& c : cases) EXPECT_EQ(FrameHeader::decode(fromHex(c.hex)), c.expected) << c.hex;
}

TEST(FrameHeader, VersionIsCheckedBeforeLengthAndShortInputIsTruncated) {
  EXPECT_EQ(cryptoErrorOf([] { FrameHeader::decode(fromHex("02")); }), CryptoError::unsupportedFrameVersion(2));
  EXPECT_EQ(cryptoErrorOf([] { FrameHeader::decode(fromHex("00 00 0000 0000000000000000")); }),
            CryptoError::unsupportedFrameVersion(0));
  for (const char* hex : {"", "01", "01 00 00", "01 00 0000 00000000000000"}) {
    EXPECT_EQ(testing::thrown<CodecError>([&] { FrameHeader::decode(fromHex(hex)); }), CodecError::truncated())
        << hex;
  }
}

class FrameCipherTest : public ::testing::Test {
 protected:
  SessionKeys keys{SymmetricKey(Bytes(32, 0x01)), SymmetricKey(Bytes(32, 0x02)), SymmetricKey(Bytes(32, 0x03)),
                   SymmetricKey(Bytes(32, 0x04))};
  FrameCipher client{keys, SessionRole::client};
  FrameCipher host{keys, SessionRole::host};
  const Bytes pointerMove = fromHex("02 0000803F 000000C0");  // 9 bytes
};

TEST_F(FrameCipherTest, RolesPickOppositeDirectionalKeys) {
  EXPECT_EQ(client.sendKey(), keys.clientToHost);
  EXPECT_EQ(client.receiveKey(), keys.hostToClient);
  EXPECT_EQ(host.sendKey(), keys.hostToClient);
  EXPECT_EQ(host.receiveKey(), keys.clientToHost);
  EXPECT_EQ(keys.sendKey(SessionRole::client), keys.receiveKey(SessionRole::host));
  EXPECT_EQ(keys.sendKey(SessionRole::host), keys.receiveKey(SessionRole::client));
}

TEST_F(FrameCipherTest, FrameIsClearHeaderThenCiphertextThenTagAndOpensOnTheOtherSide) {
  const FrameHeader header(true, 7, 42);
  const Bytes frame = client.seal(pointerMove, header);
  ASSERT_EQ(frame.size(), 12 + pointerMove.size() + 16);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 12), toBytes(header.encoded()));
  EXPECT_NE(Bytes(frame.begin() + 12, frame.begin() + 21), pointerMove);
  EXPECT_EQ(host.open(frame), (FrameCipher::Opened{header, pointerMove}));
  // The same direction's key cannot open it: the roles really differ.
  EXPECT_EQ(cryptoErrorOf([&] { client.open(frame); }), CryptoError::decryptionFailed());
}

TEST_F(FrameCipherTest, SealsExactlyLikeTheAeadWithHeaderAsNonceAndAssociatedData) {
  const FrameHeader header(false, 0xBEEF, 3);
  const auto h = header.encoded();
  ChaCha20Poly1305 aead(keys.clientToHost);
  Bytes expected(h.begin(), h.end());
  expected.resize(12 + pointerMove.size() + 16);
  aead.seal(ChaCha20Poly1305::Nonce(h), h, pointerMove, std::span(expected).subspan(12));
  EXPECT_EQ(client.seal(pointerMove, header), expected);

  // Sealed behind bytes already in a buffer (a record's head), the frame is
  // appended and what came before is kept.
  Bytes record{0xA1, 0xA2, 0xA3};
  client.seal(pointerMove, header, record);
  Bytes expectedRecord{0xA1, 0xA2, 0xA3};
  expectedRecord.insert(expectedRecord.end(), expected.begin(), expected.end());
  EXPECT_EQ(record, expectedRecord);
}

TEST_F(FrameCipherTest, EmptyPlaintextMakesTheShortestFrame) {
  const Bytes frame = host.seal({}, FrameHeader(false, 1, 0));
  ASSERT_EQ(frame.size(), 28u);
  EXPECT_EQ(client.open(frame).plaintext, Bytes{});
  EXPECT_EQ(cryptoErrorOf([&] { client.open(ByteView(frame).first(27)); }), CryptoError::frameTooShort());
}

TEST_F(FrameCipherTest, FailureOrderIsLengthThenVersionThenAuthentication) {
  // A short frame with a bad version byte is too short first.
  EXPECT_EQ(cryptoErrorOf([&] { host.open(Bytes(27, 0x02)); }), CryptoError::frameTooShort());
  // A long enough frame with a bad version fails on it before decryption.
  EXPECT_EQ(cryptoErrorOf([&] { host.open(Bytes(28, 0x02)); }), CryptoError::unsupportedFrameVersion(2));
  Bytes garbage(40, 0x00);
  garbage[0] = 0x01;
  EXPECT_EQ(cryptoErrorOf([&] { host.open(garbage); }), CryptoError::decryptionFailed());
}

TEST_F(FrameCipherTest, FlippingAnyBitIsRefused) {
  const Bytes frame = client.seal(pointerMove, FrameHeader(true, 9, 1000));
  for (std::size_t byte = 0; byte < frame.size(); ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes damaged = frame;
      damaged[byte] ^= static_cast<std::uint8_t>(1 << bit);
      // Byte 0 is the version, read before decryption. The ignored flag
      // bits still count: the header as received is the associated data.
      const CryptoError expected = byte == 0 ? CryptoError::unsupportedFrameVersion(damaged[0])
                                             : CryptoError::decryptionFailed();
      EXPECT_EQ(cryptoErrorOf([&] { host.open(damaged); }), expected) << "byte " << byte << " bit " << bit;
    }
  }
  // Refusals leave the cipher as it was.
  EXPECT_EQ(host.open(frame).plaintext, pointerMove);
}

TEST_F(FrameCipherTest, CopiesAreIndependent) {
  FrameCipher copy = client;
  const FrameHeader header(false, 1, 5);
  EXPECT_EQ(copy.seal(pointerMove, header), client.seal(pointerMove, header));
  FrameCipher memberwise(keys.clientToHost, keys.hostToClient);
  EXPECT_EQ(memberwise.seal(pointerMove, header), client.seal(pointerMove, header));
}

TEST(ReplayWindow, AcceptsEachSequenceOnceWithinSixtyFourOfTheHighest) {
  const struct {
    std::uint64_t sequence;
    bool accepted;
  } steps[] = {
      {10, true},  {5, true},    {5, false},  {10, false},  // first, older, duplicates
      {100, true}, {36, false},  // distance 64: outside the window
      {37, true},  {37, false},  // distance 63: inside, once
      {99, true},  {101, true},  {37, false},  // window moved: 37 is now 64 behind
      {38, true},  {500, true},  // a jump of 64 or more forgets everything below
      {437, true}, {437, false}, {436, false},  // 63 and 64 behind the new highest
  };
  ReplayWindow window;
  for (const auto& step : steps) {
    EXPECT_EQ(window.accept(step.sequence), step.accepted) << "sequence " << step.sequence;
  }
}

TEST(ReplayWindow, BitmapShiftsAndResets) {
  ReplayWindow window;
  ASSERT_TRUE(window.accept(0));
  EXPECT_EQ(window.bitmap(), 1u);
  ASSERT_TRUE(window.accept(3));
  EXPECT_EQ(window.bitmap(), 0b1001u);
  ASSERT_TRUE(window.accept(67));
  EXPECT_EQ(window.bitmap(), 1u);
  EXPECT_EQ(window.highest(), 67u);
  const ReplayWindow before = window;
  EXPECT_FALSE(window.accept(67));
  EXPECT_FALSE(window.accept(3));
  EXPECT_EQ(window, before) << "a refusal changes nothing";
  ASSERT_TRUE(window.accept(UINT64_MAX));
  EXPECT_FALSE(window.accept(UINT64_MAX));
}

TEST(SequenceChecker, AcceptsOnlyTheNextAndStaysPutOnRefusal) {
  SequenceChecker checker;
  for (std::uint64_t s = 0; s < 3; ++s) checker.accept(s);
  EXPECT_EQ(checker.next(), 3u);
  checker.accept(3);
  EXPECT_EQ(checker.next(), 4u);
  EXPECT_EQ(cryptoErrorOf([&] { checker.accept(5); }), CryptoError::outOfOrder(4, 5));
  EXPECT_EQ(cryptoErrorOf([&] { checker.accept(3); }), CryptoError::outOfOrder(4, 3));
  EXPECT_EQ(checker.next(), 4u);
}

TEST(CryptoError, ComparesCaseAndPayloadAndReadsWell) {
  EXPECT_EQ(CryptoError::outOfOrder(1, 2), CryptoError::outOfOrder(1, 2));
  EXPECT_FALSE(CryptoError::outOfOrder(1, 2) == CryptoError::outOfOrder(1, 3));
  EXPECT_FALSE(CryptoError::replayed(1) == CryptoError::unsupportedFrameVersion(1));
  EXPECT_STREQ(CryptoError::outOfOrder(4, 5).what(), "frame out of order: expected 4, got 5");
}

}  // namespace
}  // namespace glidemate
