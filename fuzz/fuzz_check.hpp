// What the targets share: a way to report a broken property so that the
// fuzzer records the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace glidemate::fuzz {

// A property that must hold for every input; the fuzzer keeps the input
// that broke it as a crash.
inline void require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

}  // namespace glidemate::fuzz
