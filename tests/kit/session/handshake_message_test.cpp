#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "kit/session/crypto_error.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"
#include "tests/kit/session/hex.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::ascii;
namespace HM = HandshakeMessage;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

template <class F>
std::optional<HandshakeError> handshakeErrorOf(F&& f) {
  return testing::thrown<HandshakeError>(std::forward<F>(f));
}

const Bytes key32(32, 0xFB);  // Base64 "+/v7..." exercises both special characters
const Bytes nonce16(16, 0x01);

TEST(HandshakeMessage, EncodesCompactJsonWithBase64Bytes) {
  const std::string key = "+/v7+/v7+/v7+/v7+/v7+/v7+/v7+/v7+/v7+/v7+/s=";
  const std::string nonce = "AQEBAQEBAQEBAQEBAQEBAQ==";
  EXPECT_EQ(text(HM::Hello{1, "phone-1", "Ana's phone", key32, nonce16, true}.toJson()),
            R"({"v":1,"clientId":"phone-1","clientName":"Ana's phone","ephemeral":")" + key + R"(","nonce":")" +
                nonce + R"(","hasKey":true})");
  EXPECT_EQ(text(HM::HelloAck{1, "HOST-ID", "Desk", key32, nonce16, false}.toJson()),
            R"({"v":1,"hostId":"HOST-ID","hostName":"Desk","ephemeral":")" + key + R"(","nonce":")" + nonce +
                R"(","paired":false})");
  EXPECT_EQ(text(HM::PairCommit{19, key32}.toJson()), R"({"round":19,"commitment":")" + key + R"("})");
  EXPECT_EQ(text(HM::PairReveal{0, nonce16}.toJson()), R"({"round":0,"nonce":")" + nonce + R"("})");
  EXPECT_EQ(text(HM::Auth{key32}.toJson()), R"({"mac":")" + key + R"("})");
  EXPECT_EQ(text(HM::AuthOK{key32, 65535, 50000}.toJson()),
            R"({"mac":")" + key + R"(","sessionId":65535,"udpPort":50000})");
  EXPECT_EQ(text(HM::Failure{"not paired"}.toJson()), R"({"reason":"not paired"})");
}

TEST(HandshakeMessage, AuthOkWithoutPortLeavesTheKeyOut) {
  const Bytes json = HM::AuthOK{Bytes{1, 2}, 7, std::nullopt}.toJson();
  EXPECT_EQ(text(json), R"({"mac":"AQI=","sessionId":7})");
  EXPECT_EQ(HM::AuthOK::fromJson(json).udpPort, std::nullopt);
  EXPECT_EQ(HM::AuthOK::fromJson(ascii(R"({"mac":"AQI=","sessionId":7,"udpPort":null})")).udpPort, std::nullopt);
}

TEST(HandshakeMessage, EveryMessageRoundTrips) {
  const HM::Hello hello{1, "id", "Ünïcode name", key32, nonce16, false};
  EXPECT_EQ(HM::Hello::fromJson(hello.toJson()), hello);
  const HM::HelloAck ack{2, "H", "h", {}, nonce16, true};
  EXPECT_EQ(HM::HelloAck::fromJson(ack.toJson()), ack);
  const HM::PairCommit commit{-1, key32};
  EXPECT_EQ(HM::PairCommit::fromJson(commit.toJson()), commit);
  const HM::PairReveal reveal{7, nonce16};
  EXPECT_EQ(HM::PairReveal::fromJson(reveal.toJson()), reveal);
  const HM::Auth auth{key32};
  EXPECT_EQ(HM::Auth::fromJson(auth.toJson()), auth);
  const HM::AuthOK ok{key32, 0, 0};
  EXPECT_EQ(HM::AuthOK::fromJson(ok.toJson()), ok);
  const HM::Failure failure{"pairing code did not match"};
  EXPECT_EQ(HM::Failure::fromJson(failure.toJson()), failure);
}

TEST(HandshakeMessage, DecodingIgnoresKeyOrderEscapedSlashesAndUnknownKeys) {
  const auto hello = HM::Hello::fromJson(ascii(
      R"({"hasKey":false,"nonce":"AQEBAQEBAQEBAQEBAQEBAQ==","extra":[1],"ephemeral":"+\/v7",)"
      R"("clientName":"n","clientId":"i","v":1})"));
  EXPECT_EQ(hello, (HM::Hello{1, "i", "n", Bytes{0xFB, 0xFB, 0xFB}, nonce16, false}));
}

TEST(HandshakeMessage, MalformedJsonFailsWithDecodingFailed) {
  const char* authOkCases[] = {
      R"({"mac":"AQI="})",                                    // sessionId missing
      R"({"sessionId":1})",                                   // mac missing
      R"({"mac":"AQI=","sessionId":65536})",                  // sessionId out of range
      R"({"mac":"AQI=","sessionId":-1})",
      R"({"mac":"AQI=","sessionId":1.5})",
      R"({"mac":"AQI=","sessionId":"1"})",
      R"({"mac":"AQI=","sessionId":1,"udpPort":70000})",      // port out of range
      R"({"mac":"AQI","sessionId":1})",                       // Base64 without padding
      R"({"mac":"AQ I=","sessionId":1})",                     // Base64 with a blank
      R"({"mac":null,"sessionId":1})",
      R"({"mac":[1,2],"sessionId":1})",
      R"([{"mac":"AQI=","sessionId":1}])",                    // not an object
      R"({"mac":"AQI=","sessionId":1} x)",                    // trailing text
      R"({"mac":"AQI=","sessionId":1)",                       // truncated
      "",
  };
  for (const char* json : authOkCases) {
    EXPECT_EQ(handshakeErrorOf([&] { HM::AuthOK::fromJson(ascii(json)); }), HandshakeError::decodingFailed())
        << json;
  }
  const char* helloCases[] = {
      R"({"v":1,"clientId":"i","clientName":"n","ephemeral":"","nonce":""})",              // hasKey missing
      R"({"v":1,"clientId":"i","clientName":"n","ephemeral":"","nonce":"","hasKey":1})",  // not a Bool
      R"({"v":"1","clientId":"i","clientName":"n","ephemeral":"","nonce":"","hasKey":true})",
      R"({"v":1,"clientId":7,"clientName":"n","ephemeral":"","nonce":"","hasKey":true})",
      R"({"v":18446744073709551615,"clientId":"i","clientName":"n","ephemeral":"","nonce":"","hasKey":true})",
      "{\"v\":1,\"clientId\":\"\xFF\",\"clientName\":\"n\",\"ephemeral\":\"\",\"nonce\":\"\",\"hasKey\":true}",
  };
  for (const char* json : helloCases) {
    EXPECT_EQ(handshakeErrorOf([&] { HM::Hello::fromJson(ascii(json)); }), HandshakeError::decodingFailed())
        << json;
  }
  EXPECT_EQ(handshakeErrorOf([] { HM::Failure::fromJson(ascii(R"({"why":"x"})")); }),
            HandshakeError::decodingFailed());
}

TEST(HandshakeMessage, TextThatIsNotUtf8IsWrittenWithReplacementCharacters) {
  const Bytes json = HM::Failure{"bad \xFF byte"}.toJson();
  EXPECT_EQ(HM::Failure::fromJson(json).reason, "bad \xEF\xBF\xBD byte");
}

TEST(EncodeHandshake, BodyIsTheTypeByteThenTheJson) {
  const struct {
    EncodedHandshake encoded;
    std::uint8_t type;
  } cases[] = {
      {encodeHandshake(HM::Hello{1, "i", "n", key32, nonce16, false}), 1},
      {encodeHandshake(HM::HelloAck{1, "i", "n", key32, nonce16, false}), 2},
      {encodeHandshake(HM::PairCommit{0, key32}), 3},
      {encodeHandshake(HM::PairReveal{0, nonce16}), 4},
      {encodeHandshake(HM::Auth{key32}), 5},
      {encodeHandshake(HM::AuthOK{key32, 1, std::nullopt}), 6},
      {encodeHandshake(HM::Failure{"x"}), 7},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.encoded.body.size(), c.encoded.json.size() + 1);
    EXPECT_EQ(c.encoded.body[0], c.type);
    EXPECT_EQ(Bytes(c.encoded.body.begin() + 1, c.encoded.body.end()), c.encoded.json);
    const HandshakeBody split = splitHandshakeBody(c.encoded.body);
    EXPECT_EQ(split.type, c.type);
    EXPECT_EQ(Bytes(split.json.begin(), split.json.end()), c.encoded.json);
  }
}

TEST(EncodeHandshake, EmptyBodiesAndUnknownTypesAreUnexpectedRecords) {
  for (const Bytes& body : {Bytes{}, Bytes{0x00, '{', '}'}, Bytes{0x08, '{', '}'}, Bytes{0xFF}}) {
    EXPECT_EQ(handshakeErrorOf([&] { splitHandshakeBody(body); }), HandshakeError::unexpectedRecord());
  }
  EXPECT_TRUE(splitHandshakeBody(Bytes{0x07}).json.empty());
}

TEST(HandshakeError, FailureReasonTexts) {
  const struct {
    HandshakeError error;
    const char* reason;
  } cases[] = {
      {HandshakeError::incompatibleVersion(2, 1), "protocol version mismatch"},
      {HandshakeError::refused("This phone was turned away."), "This phone was turned away."},
      {HandshakeError::notPaired(), "not paired"},
      {HandshakeError::pairingRefused(), "pairing refused"},
      {HandshakeError::pairingCodeMismatch(), "pairing code did not match"},
      {HandshakeError::authenticationFailed(), "authentication failed"},
      {HandshakeError::peerReported("x"), "handshake failed"},
      {HandshakeError::unexpectedRecord(), "handshake failed"},
      {HandshakeError::connectionClosed(), "handshake failed"},
      {HandshakeError::decodingFailed(), "handshake failed"},
  };
  for (const auto& c : cases) EXPECT_EQ(failureReason(c.error), c.reason) << c.error.what();
  EXPECT_EQ(failureReason(CryptoError::decryptionFailed()), "handshake failed");
  EXPECT_EQ(failureReason(std::runtime_error("socket reset")), "handshake failed");
}

TEST(HandshakeError, ComparesCaseAndPayload) {
  EXPECT_EQ(HandshakeError::incompatibleVersion(2, 1), HandshakeError::incompatibleVersion(2, 1));
  EXPECT_FALSE(HandshakeError::incompatibleVersion(2, 1) == HandshakeError::incompatibleVersion(3, 1));
  EXPECT_FALSE(HandshakeError::peerReported("a") == HandshakeError::refused("a"));
  EXPECT_STREQ(HandshakeError::peerReported("not paired").what(), "the peer reported: not paired");
}

}  // namespace
}  // namespace glidemate
