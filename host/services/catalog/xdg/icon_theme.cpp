#include "host/services/catalog/xdg/icon_theme.hpp"

#include <glib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "host/services/catalog/xdg/xdg_data_folders.hpp"

namespace glidemate::host {
namespace {

constexpr const char* extensions[] = {".png", ".svg", ".xpm"};
// Index files are a few kilobytes; a theme chain longer than this is a loop
// or a mistake.
constexpr std::uintmax_t maxIndexBytes = std::uintmax_t{1} << 20;
constexpr std::size_t maxThemesVisited = 16;

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool isFile(const std::filesystem::path& file) {
  std::error_code error;
  return std::filesystem::is_regular_file(file, error);
}

}  // namespace

struct IconTheme::Directory {
  enum class Type { fixed, scalable, threshold };
  std::string path;
  int size = 0;
  int scale = 1;
  Type type = Type::threshold;
  int minSize = 0;
  int maxSize = 0;
  int threshold = 2;

  bool matches(int wanted) const {
    if (scale != 1) return false;
    switch (type) {
      case Type::fixed:
        return size == wanted;
      case Type::scalable:
        return minSize <= wanted && wanted <= maxSize;
      case Type::threshold:
        return size - threshold <= wanted && wanted <= size + threshold;
    }
    return false;
  }

  int distance(int wanted) const {
    const int lowest = (type == Type::scalable ? minSize : type == Type::threshold ? size - threshold : size) * scale;
    const int highest = (type == Type::scalable ? maxSize : type == Type::threshold ? size + threshold : size) * scale;
    if (wanted < lowest) return lowest - wanted;
    if (wanted > highest) return wanted - highest;
    return 0;
  }
};

struct IconTheme::Index {
  std::vector<Directory> directories;
  std::vector<std::string> inherits;
};

IconTheme::IconTheme(std::vector<std::filesystem::path> baseFolders, std::vector<std::filesystem::path> pixmapFolders)
    : baseFolders_(std::move(baseFolders)), pixmapFolders_(std::move(pixmapFolders)) {}

IconTheme IconTheme::standard() {
  std::vector<std::filesystem::path> base;
  std::vector<std::filesystem::path> pixmaps;
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base.push_back(std::filesystem::path(home) / ".icons");
  }
  for (const auto& folder : xdgDataFolders()) {
    base.push_back(folder / "icons");
    pixmaps.push_back(folder / "pixmaps");
  }
  if (std::find(pixmaps.begin(), pixmaps.end(), "/usr/share/pixmaps") == pixmaps.end()) {
    pixmaps.emplace_back("/usr/share/pixmaps");
  }
  return IconTheme(std::move(base), std::move(pixmaps));
}

std::optional<IconTheme::Index> IconTheme::loadIndex(const std::string& themeName) const {
  for (const auto& base : baseFolders_) {
    const auto file = base / themeName / "index.theme";
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error) continue;
    if (size > maxIndexBytes) return std::nullopt;

    std::unique_ptr<GKeyFile, void (*)(GKeyFile*)> keys(g_key_file_new(), g_key_file_free);
    // Theme indexes separate their lists with commas, unlike desktop entries.
    g_key_file_set_list_separator(keys.get(), ',');
    if (!g_key_file_load_from_file(keys.get(), file.c_str(), G_KEY_FILE_NONE, nullptr)) return std::nullopt;
    const auto list = [&](const char* group, const char* key) {
      std::vector<std::string> items;
      gsize count = 0;
      gchar** values = g_key_file_get_string_list(keys.get(), group, key, &count, nullptr);
      for (gsize i = 0; i < count; ++i) items.emplace_back(values[i]);
      g_strfreev(values);
      return items;
    };
    const auto integer = [&](const std::string& group, const char* key, int fallback) {
      GError* missing = nullptr;
      const int value = g_key_file_get_integer(keys.get(), group.c_str(), key, &missing);
      if (missing != nullptr) {
        g_error_free(missing);
        return fallback;
      }
      return value;
    };

    Index index;
    index.inherits = list("Icon Theme", "Inherits");
    auto directories = list("Icon Theme", "Directories");
    for (auto& scaled : list("Icon Theme", "ScaledDirectories")) directories.push_back(std::move(scaled));
    for (const auto& path : directories) {
      if (!g_key_file_has_group(keys.get(), path.c_str())) continue;
      Directory d;
      d.path = path;
      d.size = integer(path, "Size", 0);
      if (d.size <= 0) continue;
      d.scale = std::max(1, integer(path, "Scale", 1));
      gchar* type = g_key_file_get_string(keys.get(), path.c_str(), "Type", nullptr);
      const std::string typeName = type != nullptr ? type : "Threshold";
      g_free(type);
      d.type = typeName == "Fixed"      ? Directory::Type::fixed
               : typeName == "Scalable" ? Directory::Type::scalable
                                        : Directory::Type::threshold;
      d.minSize = integer(path, "MinSize", d.size);
      d.maxSize = integer(path, "MaxSize", d.size);
      d.threshold = integer(path, "Threshold", 2);
      index.directories.push_back(std::move(d));
    }
    return index;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> IconTheme::lookup(const std::string& name, const std::string& themeName,
                                                       const Index& index, int size) const {
  for (const auto& directory : index.directories) {
    if (!directory.matches(size)) continue;
    for (const auto& base : baseFolders_) {
      for (const char* extension : extensions) {
        const auto file = base / themeName / directory.path / (name + extension);
        if (isFile(file)) return file;
      }
    }
  }
  std::optional<std::filesystem::path> closest;
  int smallest = INT_MAX;
  for (const auto& directory : index.directories) {
    const int distance = directory.distance(size);
    if (distance >= smallest) continue;
    for (const auto& base : baseFolders_) {
      for (const char* extension : extensions) {
        const auto file = base / themeName / directory.path / (name + extension);
        if (distance < smallest && isFile(file)) {
          closest = file;
          smallest = distance;
        }
      }
    }
  }
  return closest;
}

std::optional<std::filesystem::path> IconTheme::findInTheme(const std::string& name, const std::string& themeName,
                                                            int size, std::vector<std::string>& visited) const {
  if (!isPlainName(themeName) || visited.size() >= maxThemesVisited ||
      std::find(visited.begin(), visited.end(), themeName) != visited.end()) {
    return std::nullopt;
  }
  visited.push_back(themeName);
  const auto index = loadIndex(themeName);
  if (!index) return std::nullopt;
  if (auto file = lookup(name, themeName, *index, size)) return file;
  for (const auto& parent : index->inherits) {
    if (auto file = findInTheme(name, parent, size, visited)) return file;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> IconTheme::unthemed(const std::string& name) const {
  for (const auto& folders : {baseFolders_, pixmapFolders_}) {
    for (const auto& folder : folders) {
      for (const char* extension : extensions) {
        const auto file = folder / (name + extension);
        if (isFile(file)) return file;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> IconTheme::find(const std::string& name, const std::string& themeName,
                                                     int size) const {
  if (!isPlainName(name)) return std::nullopt;
  std::vector<std::string> visited;
  if (auto file = findInTheme(name, themeName, size, visited)) return file;
  if (auto file = findInTheme(name, fallbackTheme, size, visited)) return file;
  return unthemed(name);
}

}  // namespace glidemate::host
