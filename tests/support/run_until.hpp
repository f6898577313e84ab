// Test helper: runs an io_context until a condition holds. The limit only
// keeps a broken test from hanging; a passing test never comes near it.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>

namespace glidemate::testing {

template <class Predicate>
bool runUntil(asio::io_context& io, Predicate done,
              std::chrono::steady_clock::duration limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    io.restart();
    io.run_one_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace glidemate::testing
