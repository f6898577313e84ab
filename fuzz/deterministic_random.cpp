#include "fuzz/deterministic_random.hpp"

// The replacement goes through the RAND_METHOD interface, which OpenSSL 3
// keeps (deprecated) for exactly this kind of use.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rand.h>

namespace glidemate::fuzz::DeterministicRandom {
namespace {

thread_local std::uint64_t state = 1;

// splitmix64: a fixed, well-mixed sequence from a 64-bit state.
std::uint64_t nextWord() {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

int bytes(unsigned char* out, int count) {
  for (int i = 0; i < count; i += 8) {
    const std::uint64_t word = nextWord();
    for (int j = 0; j < 8 && i + j < count; ++j) out[i + j] = static_cast<unsigned char>(word >> (8 * j));
  }
  return 1;
}

int ready() { return 1; }

const RAND_METHOD method = {nullptr, bytes, nullptr, nullptr, bytes, ready};

}  // namespace

void install() { RAND_set_rand_method(&method); }

void reset(std::uint64_t seed) { state = seed; }

}  // namespace glidemate::fuzz::DeterministicRandom
