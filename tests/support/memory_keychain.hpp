// Test helper: key-store items in memory, with a status to fail writes with.
#pragma once

#include <map>

#include "kit/session/keychain_backend.hpp"
#include "kit/session/keychain_error.hpp"

namespace glidemate::testing {

class MemoryKeychain final : public KeychainBackend {
 public:
  std::int32_t failWritesWith = KeychainStatus::success;
  std::map<std::pair<std::string, std::string>, Bytes> items;

  std::int32_t update(const std::string& service, const std::string& account, ByteView data) override {
    if (failWritesWith != KeychainStatus::success) return failWritesWith;
    auto it = items.find({service, account});
    if (it == items.end()) return KeychainStatus::itemNotFound;
    it->second.assign(data.begin(), data.end());
    return KeychainStatus::success;
  }
  std::int32_t add(const std::string& service, const std::string& account, ByteView data) override {
    if (failWritesWith != KeychainStatus::success) return failWritesWith;
    items[{service, account}] = Bytes(data.begin(), data.end());
    return KeychainStatus::success;
  }
  std::optional<Bytes> copy(const std::string& service, const std::string& account) override {
    auto it = items.find({service, account});
    if (it == items.end()) return std::nullopt;
    return it->second;
  }
  void remove(const std::string& service, const std::string& account) override {
    items.erase({service, account});
  }
  std::vector<std::string> accounts(const std::string& service) override {
    std::vector<std::string> out;
    for (const auto& [key, data] : items) {
      if (key.first == service) out.push_back(key.second);
    }
    return out;
  }
};

}  // namespace glidemate::testing
