#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace glidemate::host {

// The host's small persistent settings ("hostId", "hasSeenWelcome", ...): a
// JSON object in one file, replaced atomically on every change so that a
// crash leaves the old file or the new one. Values of kinds this program
// does not ask for are kept as they are.
//
// A settings file that exists but cannot be read (no permission, a folder,
// not a JSON object) is never overwritten: this run works from defaults, the
// values set are kept in memory only, and problem() says why, so that the
// user can mend the file without losing what it holds.
class UserDefaults {
 public:
  explicit UserDefaults(std::filesystem::path file);

  // Each value of a settings file's text, as its own JSON text; nothing
  // when the text is not a JSON object.
  static std::optional<std::map<std::string, std::string>> parse(std::string_view text);

  std::optional<std::string> string(const std::string& key) const;
  std::optional<bool> boolean(const std::string& key) const;
  // Both throw std::runtime_error with the reason when the file cannot be
  // written (or must not be, see above); the value is kept in memory all
  // the same.
  void set(const std::string& key, const std::string& value);
  void setBoolean(const std::string& key, bool value);

  // Why the stored settings could not be read, if they could not.
  const std::optional<std::string>& problem() const { return problem_; }
  const std::filesystem::path& file() const { return file_; }

 private:
  void store(const std::string& key, std::string json);

  std::filesystem::path file_;
  // Each value as its JSON text.
  std::map<std::string, std::string> values_;
  std::optional<std::string> problem_;
};

}  // namespace glidemate::host
