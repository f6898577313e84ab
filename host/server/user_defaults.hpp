#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace glidemate::host {

// The host's small persistent settings ("hostId", ...): a JSON object of
// strings in one file, replaced atomically on every change so that a crash
// leaves the old file or the new one. An unreadable file reads as empty
// settings; a failed write keeps the value for this run and reports why.
class UserDefaults {
 public:
  explicit UserDefaults(std::filesystem::path file);

  // The string values of a settings file's text; anything else in it, or
  // text that is not a JSON object, reads as nothing.
  static std::map<std::string, std::string> parse(std::string_view text);

  std::optional<std::string> string(const std::string& key) const;
  // Throws std::runtime_error with the reason when the file cannot be
  // written; the value is kept in memory all the same.
  void set(const std::string& key, const std::string& value);

  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  std::map<std::string, std::string> values_;
};

}  // namespace glidemate::host
