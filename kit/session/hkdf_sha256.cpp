#include "kit/session/hkdf_sha256.hpp"

#include <openssl/core_names.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <memory>

#include "kit/session/crypto_library_error.hpp"

namespace glidemate::HkdfSha256 {
namespace {

// OSSL_PARAM takes non-const pointers; the library only reads these.
OSSL_PARAM octets(const char* name, ByteView bytes) {
  static std::uint8_t empty = 0;
  void* data = bytes.empty() ? &empty : const_cast<std::uint8_t*>(bytes.data());
  return OSSL_PARAM_construct_octet_string(name, data, bytes.size());
}

}  // namespace

void derive(ByteView inputKeyMaterial, ByteView salt, ByteView info, std::span<std::uint8_t> out) {
  const std::unique_ptr<EVP_KDF, decltype(&EVP_KDF_free)> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr),
                                                              EVP_KDF_free);
  if (!kdf) throw CryptoLibraryError("HKDF fetch");
  const std::unique_ptr<EVP_KDF_CTX, decltype(&EVP_KDF_CTX_free)> ctx(EVP_KDF_CTX_new(kdf.get()),
                                                                      EVP_KDF_CTX_free);
  if (!ctx) throw CryptoLibraryError("HKDF context");
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      octets(OSSL_KDF_PARAM_KEY, inputKeyMaterial),
      octets(OSSL_KDF_PARAM_SALT, salt),
      octets(OSSL_KDF_PARAM_INFO, info),
      OSSL_PARAM_construct_end(),
  };
  if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1) {
    throw CryptoLibraryError("HKDF-SHA256");
  }
}

}  // namespace glidemate::HkdfSha256
