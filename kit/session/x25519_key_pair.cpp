#include "kit/session/x25519_key_pair.hpp"

#include <openssl/evp.h>

#include "kit/session/crypto_library_error.hpp"

namespace glidemate {

void X25519KeyPair::Free::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

X25519KeyPair::X25519KeyPair(EVP_PKEY* key) : key_(key) {
  if (!key_) throw CryptoLibraryError("X25519 key creation");
  std::size_t length = publicKey_.size();
  if (EVP_PKEY_get_raw_public_key(key_.get(), publicKey_.data(), &length) != 1 || length != keySize) {
    throw CryptoLibraryError("X25519 public key");
  }
}

X25519KeyPair X25519KeyPair::generate() { return X25519KeyPair(EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519")); }

X25519KeyPair X25519KeyPair::fromPrivateKey(const SecretBytes<keySize>& privateKey) {
  return X25519KeyPair(
      EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, privateKey.data(), keySize));
}

SharedSecret X25519KeyPair::sharedSecret(ByteView peerPublicKey) const {
  const std::unique_ptr<EVP_PKEY, Free> peer(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, peerPublicKey.data(), peerPublicKey.size()));
  if (!peer) throw CryptoLibraryError("X25519 peer public key");
  const std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr), EVP_PKEY_CTX_free);
  SharedSecret secret;
  std::size_t length = SharedSecret::byteCount;
  if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1 ||
      EVP_PKEY_derive(ctx.get(), secret.writable().data(), &length) != 1 || length != SharedSecret::byteCount) {
    throw CryptoLibraryError("X25519 key agreement");
  }
  return secret;
}

}  // namespace glidemate
