#include "host/companion/login_item_service.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kit/runtime/atomic_file.hpp"

namespace glidemate::host {
namespace {

// A program path as the Exec key wants it: quoted when it holds anything
// the desktop entry format treats specially, with the argument's escapes
// and then the string's escapes applied.
std::string execValue(const std::string& path) {
  if (path.find_first_of(" \t\n\"'\\><~|&;$*?#()`%") == std::string::npos) return path;
  std::string argument = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
    argument += c == '%' ? std::string("%%") : std::string(1, c);
  }
  argument += '"';
  std::string value;
  for (char c : argument) value += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return value;
}

}  // namespace

LoginItemService::LoginItemService(std::filesystem::path autostartFolder, std::string entry)
    : folder_(std::move(autostartFolder)), entry_(std::move(entry)) {
  isEnabled.set(readEnabled());
}

std::filesystem::path LoginItemService::defaultFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return std::filesystem::path(config) / "autostart";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home != nullptr ? home : "/") / ".config" / "autostart";
}

std::string LoginItemService::entryFor(const std::string& entryTemplate, const std::filesystem::path& program) {
  std::istringstream in(entryTemplate);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("Exec=")) line = "Exec=" + execValue(program.string());
    out += line + "\n";
  }
  return out;
}

bool LoginItemService::readEnabled() const {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file(), error)) return false;
  std::ifstream in(file());
  for (std::string line; std::getline(in, line);) {
    if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
  }
  return true;
}

void LoginItemService::setEnabled(bool enabled) {
  std::optional<std::string> failure;
  if (enabled) {
    std::error_code error;
    std::filesystem::create_directories(folder_, error);
    if (error) {
      failure = "Could not create " + folder_.string() + ": " + error.message();
    } else if (const int code = replaceFileAtomically(file(), entry_, 0644)) {
      failure = "Could not write " + file().string() + ": " + std::strerror(code);
    }
  } else if (::unlink(file().c_str()) != 0 && errno != ENOENT) {
    // Already absent is already off.
    failure = "Could not remove " + file().string() + ": " + std::strerror(errno);
  }
  problem.set(failure);
  isEnabled.set(readEnabled());
}

}  // namespace glidemate::host
