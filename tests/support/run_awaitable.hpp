// Test helper: runs an io_context until one coroutine has finished and
// returns its result (or rethrows its exception), so tests read like
// straight-line code. The context is driven by events only; the long guard
// turns a test that would hang into a failure and never decides a pass.
#pragma once

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace glidemate::testing {

// Runs handlers until `done()` is true; false if it is still false when the
// limit has passed. The limit only keeps a broken test from hanging; a
// passing test never comes near it.
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

// Runs handlers until `done()` is true.
template <class Predicate>
void driveUntil(asio::io_context& context, Predicate done) {
  while (!done()) {
    if (context.stopped()) {
      context.restart();
    }
    if (context.run_one_for(std::chrono::seconds(20)) == 0) {
      throw std::runtime_error("the io_context ran out of work or stalled before the condition held");
    }
  }
}

template <class T>
T runAwaitable(asio::io_context& context, asio::awaitable<T> work) {
  std::exception_ptr failure;
  bool done = false;
  if constexpr (std::is_void_v<T>) {
    asio::co_spawn(context, std::move(work), [&](std::exception_ptr e) {
      failure = e;
      done = true;
    });
    driveUntil(context, [&] { return done; });
    if (failure) {
      std::rethrow_exception(failure);
    }
  } else {
    std::optional<T> result;
    asio::co_spawn(context, std::move(work), [&](std::exception_ptr e, T value) {
      failure = e;
      if (!e) {
        result.emplace(std::move(value));
      }
      done = true;
    });
    driveUntil(context, [&] { return done; });
    if (failure) {
      std::rethrow_exception(failure);
    }
    return std::move(*result);
  }
}

}  // namespace glidemate::testing
