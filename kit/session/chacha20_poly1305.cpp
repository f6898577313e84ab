#include "kit/session/chacha20_poly1305.hpp"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>

#include "kit/session/crypto_library_error.hpp"

namespace glidemate {
namespace {

// Fetched once: an implicit fetch on every context would cost a lookup.
const EVP_CIPHER* cipher() {
  static EVP_CIPHER* const fetched = EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr);
  if (fetched == nullptr) throw CryptoLibraryError("ChaCha20-Poly1305 fetch");
  return fetched;
}

// The library counts in int; feed longer inputs in pieces.
constexpr std::size_t maxChunk = INT_MAX / 2;

bool update(EVP_CIPHER_CTX* ctx, std::uint8_t* out, ByteView in) {
  while (!in.empty()) {
    const std::size_t chunk = std::min(in.size(), maxChunk);
    int written = 0;
    if (EVP_CipherUpdate(ctx, out, &written, in.data(), static_cast<int>(chunk)) != 1) return false;
    if (out != nullptr) out += written;
    in = in.subspan(chunk);
  }
  return true;
}

}  // namespace

void ChaCha20Poly1305::Free::operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }

std::unique_ptr<EVP_CIPHER_CTX, ChaCha20Poly1305::Free> ChaCha20Poly1305::makeContext(const SymmetricKey& key) {
  std::unique_ptr<EVP_CIPHER_CTX, Free> ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), cipher(), key.data(), nullptr, 1, nullptr) != 1) {
    throw CryptoLibraryError("ChaCha20-Poly1305 key setup");
  }
  return ctx;
}

ChaCha20Poly1305::ChaCha20Poly1305(const SymmetricKey& key) : key_(key), ctx_(makeContext(key)) {}
ChaCha20Poly1305::ChaCha20Poly1305(const ChaCha20Poly1305& other)
    : key_(other.key_), ctx_(makeContext(other.key_)) {}
ChaCha20Poly1305& ChaCha20Poly1305::operator=(const ChaCha20Poly1305& other) {
  if (this != &other) {
    ctx_ = makeContext(other.key_);
    key_ = other.key_;
  }
  return *this;
}
ChaCha20Poly1305::ChaCha20Poly1305(ChaCha20Poly1305&&) noexcept = default;
ChaCha20Poly1305& ChaCha20Poly1305::operator=(ChaCha20Poly1305&&) noexcept = default;
ChaCha20Poly1305::~ChaCha20Poly1305() = default;

void ChaCha20Poly1305::seal(Nonce nonce, ByteView associatedData, ByteView plaintext,
                            std::span<std::uint8_t> out) {
  if (out.size() != plaintext.size() + tagSize) throw std::invalid_argument("sealed output has the wrong size");
  EVP_CIPHER_CTX* ctx = ctx_.get();
  int finalLength = 0;
  if (EVP_CipherInit_ex2(ctx, nullptr, nullptr, nonce.data(), 1, nullptr) != 1 ||
      !update(ctx, nullptr, associatedData) || !update(ctx, out.data(), plaintext) ||
      EVP_CipherFinal_ex(ctx, out.data() + plaintext.size(), &finalLength) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, static_cast<int>(tagSize),
                          out.data() + plaintext.size()) != 1) {
    throw CryptoLibraryError("ChaCha20-Poly1305 seal");
  }
}

bool ChaCha20Poly1305::open(Nonce nonce, ByteView associatedData, ByteView sealed, std::span<std::uint8_t> out) {
  if (sealed.size() < tagSize || out.size() != sealed.size() - tagSize) return false;
  const ByteView ciphertext = sealed.first(sealed.size() - tagSize);
  // The library takes the expected tag through a non-const pointer but
  // only reads it.
  std::uint8_t tag[tagSize];
  std::copy(sealed.end() - tagSize, sealed.end(), tag);
  EVP_CIPHER_CTX* ctx = ctx_.get();
  int finalLength = 0;
  const bool ok = EVP_CipherInit_ex2(ctx, nullptr, nullptr, nonce.data(), 0, nullptr) == 1 &&
                  update(ctx, nullptr, associatedData) && update(ctx, out.data(), ciphertext) &&
                  EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(tagSize), tag) == 1 &&
                  EVP_CipherFinal_ex(ctx, out.data() + ciphertext.size(), &finalLength) == 1;
  if (!ok) {
    // The plaintext of a forged frame must not be used, nor left behind.
    OPENSSL_cleanse(out.data(), out.size());
    ERR_clear_error();
  }
  return ok;
}

}  // namespace glidemate
