#include "host/services/catalog/xdg/xdg_data_folders.hpp"

#include <cstdlib>
#include <string>

namespace glidemate::host {

std::vector<std::filesystem::path> xdgDataFolders() {
  std::vector<std::filesystem::path> folders;
  const auto add = [&](const std::filesystem::path& folder) {
    if (folder.is_absolute()) folders.push_back(folder);
  };
  if (const char* home = std::getenv("XDG_DATA_HOME"); home != nullptr && *home != '\0') {
    add(home);
  } else if (const char* user = std::getenv("HOME"); user != nullptr && *user != '\0') {
    add(std::filesystem::path(user) / ".local" / "share");
  }
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  const std::string list = dirs != nullptr && *dirs != '\0' ? dirs : "/usr/local/share:/usr/share";
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(':', start), list.size());
    if (end > start) add(list.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

}  // namespace glidemate::host
