#include "host/server/user_defaults.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "kit/runtime/atomic_file.hpp"

namespace glidemate::host {
namespace {

// The file's bytes, or why they can't be had; nothing at all when there is
// no file.
struct Contents {
  std::optional<std::string> text;
  std::optional<std::string> failure;
};

Contents readContents(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    return {std::nullopt, std::strerror(errno)};
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    return {std::nullopt, "it is a folder"};
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return {std::nullopt, std::strerror(error)};
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return {std::move(text), std::nullopt};
}

}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
  auto contents = readContents(file_);
  if (!contents.failure && !contents.text) return;
  // An empty file holds nothing to keep.
  if (contents.text && contents.text->find_first_not_of(" \t\r\n") == std::string::npos) return;
  if (contents.text) {
    if (auto values = parse(*contents.text)) {
      values_ = std::move(*values);
      return;
    }
    contents.failure = "it is not a JSON object";
  }
  problem_ = "cannot read the settings in " + file_.string() + " (" + *contents.failure + ")";
}

std::optional<std::map<std::string, std::string>> UserDefaults::parse(std::string_view text) {
  const auto document = nlohmann::json::parse(text, nullptr, false);
  if (!document.is_object()) return std::nullopt;
  std::map<std::string, std::string> values;
  for (const auto& [key, value] : document.items()) values[key] = value.dump();
  return values;
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  const auto value = nlohmann::json::parse(it->second);
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  const auto value = nlohmann::json::parse(it->second);
  if (!value.is_boolean()) return std::nullopt;
  return value.get<bool>();
}

void UserDefaults::set(const std::string& key, const std::string& value) {
  store(key, nlohmann::json(value).dump());
}

void UserDefaults::setBoolean(const std::string& key, bool value) { store(key, nlohmann::json(value).dump()); }

void UserDefaults::store(const std::string& key, std::string json) {
  values_[key] = std::move(json);
  const std::string prefix = "cannot save settings to " + file_.string() + ": ";
  if (problem_) throw std::runtime_error(prefix + "the file there could not be read, so it is left as it is");

  auto document = nlohmann::json::object();
  for (const auto& [k, text] : values_) document[k] = nlohmann::json::parse(text);
  const std::string text = document.dump(2) + "\n";
  std::error_code error;
  if (!file_.parent_path().empty()) std::filesystem::create_directories(file_.parent_path(), error);
  if (error) throw std::runtime_error(prefix + error.message());
  if (const int code = replaceFileAtomically(file_, text, 0600)) throw std::runtime_error(prefix + std::strerror(code));
}

}  // namespace glidemate::host
