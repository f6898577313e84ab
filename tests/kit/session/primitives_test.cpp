// Known-answer tests of the primitives against the published vectors of
// their RFCs (each also recomputed with the openssl command line), and the
// rules this library adds on top of them.
#include <gtest/gtest.h>

#include <optional>

#include "kit/session/base64.hpp"
#include "kit/session/chacha20_poly1305.hpp"
#include "kit/session/constant_time_equal.hpp"
#include "kit/session/crypto_library_error.hpp"
#include "kit/session/hkdf_sha256.hpp"
#include "kit/session/hmac_sha256.hpp"
#include "kit/session/secret_bytes.hpp"
#include "kit/session/sha256.hpp"
#include "kit/session/x25519_key_pair.hpp"
#include "tests/kit/session/hex.hpp"
#include "tests/support/thrown.hpp"

namespace glidemate {
namespace {

using testing::ascii;
using testing::fromHex;

Bytes toBytes(ByteView view) { return Bytes(view.begin(), view.end()); }

// RFC 7748, section 6.1.
TEST(X25519, AgreesWithTheRfcVector) {
  const auto alice = X25519KeyPair::fromPrivateKey(
      SecretBytes<32>(fromHex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a")));
  const auto bob = X25519KeyPair::fromPrivateKey(
      SecretBytes<32>(fromHex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb")));
  EXPECT_EQ(toBytes(alice.publicKey()),
            fromHex("8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"));
  EXPECT_EQ(toBytes(bob.publicKey()), fromHex("de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"));
  const Bytes shared = fromHex("4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742");
  EXPECT_EQ(toBytes(alice.sharedSecret(bob.publicKey()).view()), shared);
  EXPECT_EQ(toBytes(bob.sharedSecret(alice.publicKey()).view()), shared);
}

TEST(X25519, FreshPairsAgreeAndDiffer) {
  const auto a = X25519KeyPair::generate();
  const auto b = X25519KeyPair::generate();
  EXPECT_NE(a.publicKey(), b.publicKey());
  EXPECT_EQ(a.sharedSecret(b.publicKey()), b.sharedSecret(a.publicKey()));
}

TEST(X25519, MalformedPeerKeysAreLibraryErrors) {
  const auto own = X25519KeyPair::generate();
  const Bytes cases[] = {
      Bytes(31, 0x09),  // too short
      Bytes(33, 0x09),  // too long
      Bytes{},          // empty
      Bytes(32, 0x00),  // a small-order point: the secret would be all zeros
  };
  for (const Bytes& key : cases) {
    EXPECT_TRUE(testing::thrown<CryptoLibraryError>([&] { own.sharedSecret(key); }))
        << key.size() << " bytes";
  }
}

// RFC 5869, test case 1.
TEST(HkdfSha256, MatchesTheRfcVector) {
  Bytes okm(42);
  HkdfSha256::derive(fromHex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b"), fromHex("000102030405060708090a0b0c"),
                     fromHex("f0f1f2f3f4f5f6f7f8f9"), okm);
  EXPECT_EQ(okm, fromHex("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf"
                         "34007208d5b887185865"));
}

// RFC 4231, test case 2.
TEST(HmacSha256, MatchesTheRfcVector) {
  const auto mac = HmacSha256::mac(ascii("Jefe"), {ascii("what do ya want "), ascii("for nothing?")});
  EXPECT_EQ(toBytes(mac), fromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
}

TEST(Sha256, HashesTheConcatenationOfItsParts) {
  // FIPS 180-2 example "abc".
  const Bytes abc = fromHex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(toBytes(Sha256::hash({ascii("abc")})), abc);
  EXPECT_EQ(toBytes(Sha256::hash({ascii("a"), {}, ascii("bc")})), abc);
}

// RFC 8439, section 2.8.2.
struct Rfc8439 {
  SymmetricKey key{fromHex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f")};
  Bytes nonce = fromHex("070000004041424344454647");
  Bytes aad = fromHex("50515253c0c1c2c3c4c5c6c7");
  Bytes plaintext = ascii(
      "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, "
      "sunscreen would be it.");
  Bytes sealed = fromHex(
      "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d6"
      "3dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6a5b67ecd3b36"
      "92ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc"
      "3ff4def08e4b7a9de576d26586cec64b6116"
      "1ae10b594f09e26a7e902ecbd0600691");
  ChaCha20Poly1305::Nonce n() const { return ChaCha20Poly1305::Nonce(nonce.data(), 12); }
};

TEST(ChaCha20Poly1305, SealsTheRfcVector) {
  const Rfc8439 v;
  ChaCha20Poly1305 aead(v.key);
  Bytes out(v.plaintext.size() + ChaCha20Poly1305::tagSize);
  aead.seal(v.n(), v.aad, v.plaintext, out);
  EXPECT_EQ(out, v.sealed);
  // The same context seals again with the same result: the key survives
  // nonce reloads.
  Bytes again(out.size());
  aead.seal(v.n(), v.aad, v.plaintext, again);
  EXPECT_EQ(again, v.sealed);
}

TEST(ChaCha20Poly1305, OpensTheRfcVectorAndRefusesATamperedOne) {
  const Rfc8439 v;
  ChaCha20Poly1305 aead(v.key);
  Bytes plain(v.plaintext.size());
  ASSERT_TRUE(aead.open(v.n(), v.aad, v.sealed, plain));
  EXPECT_EQ(plain, v.plaintext);

  Bytes tampered = v.sealed;
  tampered[5] ^= 0x01;
  EXPECT_FALSE(aead.open(v.n(), v.aad, tampered, plain));
  EXPECT_EQ(plain, Bytes(plain.size(), 0)) << "unauthenticated plaintext must be wiped";
  Bytes otherAad = v.aad;
  otherAad[0] ^= 0x80;
  EXPECT_FALSE(aead.open(v.n(), otherAad, v.sealed, plain));
  // A failure leaves the context usable.
  ASSERT_TRUE(aead.open(v.n(), v.aad, v.sealed, plain));
  EXPECT_EQ(plain, v.plaintext);
}

TEST(SecretBytes, MovingWipesTheSourceAndWrongLengthsAreRefused) {
  SymmetricKey key(Bytes(32, 0xAB));
  SymmetricKey moved(std::move(key));
  EXPECT_EQ(moved, SymmetricKey(Bytes(32, 0xAB)));
  EXPECT_EQ(key, SymmetricKey());  // NOLINT(bugprone-use-after-move): the wipe is the point
  SymmetricKey assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned, SymmetricKey(Bytes(32, 0xAB)));
  EXPECT_EQ(moved, SymmetricKey());  // NOLINT(bugprone-use-after-move)
  EXPECT_THROW(SymmetricKey(Bytes(31)), std::invalid_argument);
  EXPECT_THROW(SymmetricKey(Bytes(33)), std::invalid_argument);
}

TEST(ConstantTimeEqual, ComparesLengthThenEveryByte) {
  EXPECT_TRUE(constantTimeEqual(Bytes{}, Bytes{}));
  EXPECT_TRUE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2, 3}));
  EXPECT_FALSE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2}));
  EXPECT_FALSE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2, 4}));
  EXPECT_FALSE(constantTimeEqual(Bytes{0, 2, 3}, Bytes{1, 2, 3}));
}

TEST(Base64, EncodesStandardAlphabetWithPadding) {
  const struct {
    Bytes bytes;
    std::string text;
  } cases[] = {
      {{}, ""},
      {ascii("f"), "Zg=="},
      {ascii("fo"), "Zm8="},
      {ascii("foo"), "Zm9v"},
      {{0xFB, 0xFF}, "+/8="},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Base64::encode(c.bytes), c.text);
    EXPECT_EQ(Base64::decode(c.text), c.bytes) << c.text;
  }
}

TEST(Base64, RefusesAnythingButCanonicalStandardText) {
  for (const char* text : {"Zg", "Zg=", "Zm8", "Z===", "Zm=v", "=Zm8", "-_8=", "Zm9v\n", " Zm9v", "Zm 9v",
                           "Zm9v====", "Zm\xC3\xA9"}) {
    EXPECT_EQ(Base64::decode(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace glidemate
