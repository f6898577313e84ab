// The expected keys were computed independently with
//   openssl kdf -keylen 128 -kdfopt digest:SHA256 -kdfopt hexkey:<shared>
//     -kdfopt hexsalt:<long-term key> -kdfopt hexinfo:<"glidemate/session/v1" ‖ transcript> HKDF
//   openssl kdf -keylen 32 -kdfopt digest:SHA256 -kdfopt hexkey:<shared>
//     -kdfopt hexsalt:<transcript> -kdfopt hexinfo:<"glidemate/ltk/v1"> HKDF
#include <gtest/gtest.h>

#include "kit/session/session_keys.hpp"
#include "tests/kit/session/hex.hpp"

namespace glidemate {
namespace {

using testing::fromHex;

struct Inputs {
  // The X25519 shared secret of the RFC 7748 example.
  SharedSecret shared{fromHex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742")};
  SymmetricKey longTermKey{fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")};
  Bytes transcript = fromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeafb0b1b2b3b4b5b6b7b8b9babbbcbdbebf");
};

TEST(SessionKeys, DeriveMatchesAnIndependentHkdf) {
  const Inputs in;
  const SessionKeys keys = SessionKeys::derive(in.shared, in.longTermKey, in.transcript);
  EXPECT_EQ(keys.clientToHost,
            SymmetricKey(fromHex("3fefc99d18b977d5247dc70bcbc11b84c8be9c0d018ce09df584dbea6de0a609")));
  EXPECT_EQ(keys.hostToClient,
            SymmetricKey(fromHex("2a07aa829909da07de5926f9c25426746695f27eba6fa3fead49e0be4b202a4a")));
  EXPECT_EQ(keys.clientConfirm,
            SymmetricKey(fromHex("4e258a9f1f603f78c0d0b011a1228ac89b5d055e6276018f959d6919829c4579")));
  EXPECT_EQ(keys.hostConfirm,
            SymmetricKey(fromHex("112825ebaa042c5b668bd327d036214f9795b96cbf3ef912c37ba9e68ccc7241")));
}

TEST(SessionKeys, DeriveLongTermKeyMatchesAnIndependentHkdf) {
  const Inputs in;
  EXPECT_EQ(SessionKeys::deriveLongTermKey(in.shared, in.transcript),
            SymmetricKey(fromHex("e73969b31fa8f492b415d232b75a2c8d6085cad7cd169cacd713d07c6aafa521")));
}

TEST(SessionKeys, EveryInputChangesTheKeys) {
  const Inputs in;
  const SessionKeys base = SessionKeys::derive(in.shared, in.longTermKey, in.transcript);
  Bytes otherTranscript = in.transcript;
  otherTranscript[31] ^= 1;
  EXPECT_NE(SessionKeys::derive(in.shared, in.longTermKey, otherTranscript), base);
  EXPECT_NE(SessionKeys::derive(in.shared, SymmetricKey(Bytes(32, 0)), in.transcript), base);
  EXPECT_NE(SessionKeys::derive(SharedSecret(Bytes(32, 7)), in.longTermKey, in.transcript), base);
}

}  // namespace
}  // namespace glidemate
