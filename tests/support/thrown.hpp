// Test helper: the exception a call throws, so that tests can compare error
// cases and payloads with ==.
#pragma once

#include <gtest/gtest.h>

#include <optional>

namespace glidemate::testing {

template <class E, class F>
std::optional<E> thrown(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e;
  }
  return std::nullopt;
}

}  // namespace glidemate::testing
