#include "kit/session/hmac_sha256.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <memory>

#include "kit/session/crypto_library_error.hpp"

namespace glidemate::HmacSha256 {

Mac mac(ByteView key, std::initializer_list<ByteView> parts) {
  const std::unique_ptr<EVP_MAC, decltype(&EVP_MAC_free)> algorithm(EVP_MAC_fetch(nullptr, "HMAC", nullptr),
                                                                    EVP_MAC_free);
  if (!algorithm) throw CryptoLibraryError("HMAC fetch");
  const std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)> ctx(EVP_MAC_CTX_new(algorithm.get()),
                                                                      EVP_MAC_CTX_free);
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_end(),
  };
  // OpenSSL wants a non-null key pointer even for an empty key.
  static const std::uint8_t emptyKey = 0;
  const std::uint8_t* keyBytes = key.empty() ? &emptyKey : key.data();
  if (!ctx || EVP_MAC_init(ctx.get(), keyBytes, key.size(), params) != 1) {
    throw CryptoLibraryError("HMAC-SHA256 init");
  }
  for (const ByteView part : parts) {
    if (EVP_MAC_update(ctx.get(), part.data(), part.size()) != 1) throw CryptoLibraryError("HMAC-SHA256");
  }
  Mac out{};
  std::size_t length = 0;
  if (EVP_MAC_final(ctx.get(), out.data(), &length, out.size()) != 1 || length != out.size()) {
    throw CryptoLibraryError("HMAC-SHA256 final");
  }
  return out;
}

}  // namespace glidemate::HmacSha256
