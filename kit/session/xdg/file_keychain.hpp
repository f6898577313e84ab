#pragma once

#include <filesystem>

#include "kit/session/keychain_backend.hpp"

namespace glidemate {

// Key-store items as files: <root>/<service>/<account in hex>, folders mode
// 0700, files mode 0600. Every write goes to a temporary file that is
// flushed and then renamed over the item, so a crash leaves either the old
// item or the new one, never a torn one. The account becomes a file name
// only through its hex form, so no identifier can name a path.
class FileKeychain final : public KeychainBackend {
 public:
  // Accounts longer than this cannot be kept (file names are limited).
  static constexpr std::size_t maxAccountBytes = 120;

  explicit FileKeychain(std::filesystem::path root);

  std::int32_t update(const std::string& service, const std::string& account,
                      ByteView data) override;
  std::int32_t add(const std::string& service, const std::string& account, ByteView data) override;
  std::optional<Bytes> copy(const std::string& service, const std::string& account) override;
  void remove(const std::string& service, const std::string& account) override;
  std::vector<std::string> accounts(const std::string& service) override;

 private:
  std::optional<std::filesystem::path> itemPath(const std::string& service,
                                                const std::string& account) const;
  std::int32_t write(const std::filesystem::path& item, ByteView data);

  std::filesystem::path root_;
};

}  // namespace glidemate
