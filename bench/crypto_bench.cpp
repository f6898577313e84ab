// Cost of protecting the most frequent frame, a 9-byte pointer move: the
// session's FrameCipher (seal + open) beside the bare ChaCha20-Poly1305 of
// the library on the same bytes with reused contexts, which is as fast as
// this can go. The ratio of the two is the overhead of the frame layer.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <array>
#include <memory>

#include "kit/session/frame_cipher.hpp"
#include "kit/wire/message.hpp"
#include "kit/wire/message_codec.hpp"

namespace glidemate {
namespace {

const SessionKeys keys{SymmetricKey(Bytes(32, 0x11)), SymmetricKey(Bytes(32, 0x22)), SymmetricKey(Bytes(32, 0x33)),
                       SymmetricKey(Bytes(32, 0x44))};

Bytes pointerMove() { return MessageCodec::encode(Message::PointerMove{3.5F, -1.25F}); }

void BM_FrameCipherSealOpen(benchmark::State& state) {
  FrameCipher client(keys, SessionRole::client);
  FrameCipher host(keys, SessionRole::host);
  const Bytes plaintext = pointerMove();
  std::uint64_t sequence = 0;
  for (auto _ : state) {
    const Bytes frame = client.seal(plaintext, FrameHeader(true, 0x1234, sequence++));
    auto opened = host.open(frame);
    benchmark::DoNotOptimize(opened);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["plaintext"] = static_cast<double>(plaintext.size());
}
BENCHMARK(BM_FrameCipherSealOpen);

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

Context keyed(const SymmetricKey& key, int encrypt) {
  Context ctx(EVP_CIPHER_CTX_new());
  EVP_CipherInit_ex2(ctx.get(), EVP_chacha20_poly1305(), key.data(), nullptr, encrypt, nullptr);
  return ctx;
}

// The same work with nothing around it: preallocated buffers, one context
// per direction, the 12-byte header as nonce and associated data.
void BM_RawAeadSealOpen(benchmark::State& state) {
  const Context sealer = keyed(keys.clientToHost, 1);
  const Context opener = keyed(keys.clientToHost, 0);
  const Bytes plaintext = pointerMove();
  const int n = static_cast<int>(plaintext.size());
  std::array<std::uint8_t, 12> header{1, 1, 0x34, 0x12};
  std::array<std::uint8_t, 64> sealed{};
  std::array<std::uint8_t, 64> opened{};
  std::array<std::uint8_t, 16> tag{};
  std::uint64_t sequence = 0;
  int length = 0;
  for (auto _ : state) {
    for (int i = 0; i < 8; ++i) header[4 + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
    ++sequence;
    EVP_CipherInit_ex2(sealer.get(), nullptr, nullptr, header.data(), 1, nullptr);
    EVP_CipherUpdate(sealer.get(), nullptr, &length, header.data(), 12);
    EVP_CipherUpdate(sealer.get(), sealed.data(), &length, plaintext.data(), n);
    EVP_CipherFinal_ex(sealer.get(), sealed.data() + n, &length);
    EVP_CIPHER_CTX_ctrl(sealer.get(), EVP_CTRL_AEAD_GET_TAG, 16, tag.data());

    EVP_CipherInit_ex2(opener.get(), nullptr, nullptr, header.data(), 0, nullptr);
    EVP_CipherUpdate(opener.get(), nullptr, &length, header.data(), 12);
    EVP_CipherUpdate(opener.get(), opened.data(), &length, sealed.data(), n);
    EVP_CIPHER_CTX_ctrl(opener.get(), EVP_CTRL_AEAD_SET_TAG, 16, tag.data());
    const int ok = EVP_CipherFinal_ex(opener.get(), opened.data() + n, &length);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(opened);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawAeadSealOpen);

}  // namespace
}  // namespace glidemate
