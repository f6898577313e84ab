#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace glidemate::host {

// The host's small persistent settings ("hostId", "threeFingerDrag", ...): a
// JSON object of strings and Booleans in one file, replaced atomically on
// every change so that a crash leaves the old file or the new one. An
// unreadable file reads as empty settings; a failed write keeps the value
// for this run and reports why. Values of other kinds are kept as they are.
class UserDefaults {
 public:
  explicit UserDefaults(std::filesystem::path file);

  // Each value of a settings file's text, as its own JSON text; text that
  // is not a JSON object reads as nothing.
  static std::map<std::string, std::string> parse(std::string_view text);

  // Nothing when the key is missing or holds another kind of value.
  std::optional<std::string> string(const std::string& key) const;
  std::optional<bool> boolean(const std::string& key) const;
  // Throw std::runtime_error with the reason when the file cannot be
  // written; the value is kept in memory all the same.
  void set(const std::string& key, const std::string& value);
  void setBoolean(const std::string& key, bool value);

  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
  void save() const;

  // Each value as its JSON text, so that kinds this class does not read
  // survive a rewrite unchanged.
  std::map<std::string, std::string> values_;
};

}  // namespace glidemate::host
