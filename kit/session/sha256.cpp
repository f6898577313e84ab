#include "kit/session/sha256.hpp"

#include <openssl/evp.h>

#include <memory>

#include "kit/session/crypto_library_error.hpp"

namespace glidemate::Sha256 {

Digest hash(std::initializer_list<ByteView> parts) {
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
    throw CryptoLibraryError("SHA-256 init");
  }
  for (const ByteView part : parts) {
    if (EVP_DigestUpdate(ctx.get(), part.data(), part.size()) != 1) throw CryptoLibraryError("SHA-256");
  }
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &length) != 1 || length != digest.size()) {
    throw CryptoLibraryError("SHA-256 final");
  }
  return digest;
}

}  // namespace glidemate::Sha256
