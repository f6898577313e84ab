#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace glidemate {

// Memory that is wiped before it is given back, for containers that hold a
// secret as text.
template <class T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}  // NOLINT: converts like std::allocator

  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    OPENSSL_cleanse(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }

  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// A JSON document that holds a key in Base64 (a stored key item): its
// strings, its containers, the parser's working buffer and the printed text
// all live in wiping memory, so the key's text does not linger in freed
// memory after a save or a lookup. Keys keep their order, as in an
// encoder's output.
using SecretJson = nlohmann::basic_json<nlohmann::ordered_map, std::vector, SecretString, bool, std::int64_t,
                                        std::uint64_t, double, WipingAllocator>;

}  // namespace glidemate
