#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate {

// Where the key store keeps its items: one data blob per (service, account),
// the semantics of a system keychain's generic passwords. Statuses are the
// KeychainStatus codes.
class KeychainBackend {
 public:
  virtual ~KeychainBackend() = default;

  // Replaces an existing item's data; itemNotFound when there is none.
  virtual std::int32_t update(const std::string& service, const std::string& account,
                              ByteView data) = 0;
  // Adds a new item.
  virtual std::int32_t add(const std::string& service, const std::string& account,
                           ByteView data) = 0;
  // The item's data, or nothing (missing or unreadable).
  virtual std::optional<Bytes> copy(const std::string& service, const std::string& account) = 0;
  virtual void remove(const std::string& service, const std::string& account) = 0;
  // Every account that has an item under `service`.
  virtual std::vector<std::string> accounts(const std::string& service) = 0;
};

}  // namespace glidemate
