#include "host/server/user_defaults.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace glidemate::host {
namespace {

[[noreturn]] void fail(const std::filesystem::path& file, const std::string& what) {
  throw std::runtime_error("cannot save settings to " + file.string() + ": " + what);
}

}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {
  std::ifstream in(file_);
  if (!in) return;
  std::stringstream text;
  text << in.rdbuf();
  values_ = parse(text.str());
}

std::map<std::string, std::string> UserDefaults::parse(std::string_view text) {
  std::map<std::string, std::string> values;
  const auto document = nlohmann::json::parse(text, nullptr, false);
  if (!document.is_object()) return values;
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
  values_[key] = nlohmann::json(value).dump();
  save();
}

void UserDefaults::setBoolean(const std::string& key, bool value) {
  values_[key] = nlohmann::json(value).dump();
  save();
}

void UserDefaults::save() const {
  nlohmann::json document = nlohmann::json::object();
  for (const auto& [key, value] : values_) document[key] = nlohmann::json::parse(value);
  const std::string text = document.dump(2) + "\n";

  const auto dir = file_.parent_path();
  std::error_code error;
  if (!dir.empty()) std::filesystem::create_directories(dir, error);
  if (error) fail(file_, error.message());
  std::string temporary = (dir / ".settings-XXXXXX").string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) fail(file_, std::strerror(errno));
  const auto abandon = [&](int code) {
    ::close(fd);
    ::unlink(temporary.c_str());
    fail(file_, std::strerror(code));
  };
  if (::fchmod(fd, 0600) != 0) abandon(errno);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) abandon(errno);
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) abandon(errno);
  ::close(fd);
  if (::rename(temporary.c_str(), file_.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    fail(file_, std::strerror(code));
  }
}

}  // namespace glidemate::host
