#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// Finds icon files by name the way desktops do (the freedesktop icon theme
// rules): in the chosen theme, the themes it inherits from, then "hicolor",
// then the unthemed icons; in each theme, a folder made for the wanted size
// first, else the folder whose size is closest. PNG, SVG and XPM files count.
class IconTheme {
 public:
  static constexpr const char* fallbackTheme = "hicolor";

  // `baseFolders` hold the themes (and unthemed icons), in precedence
  // order; `pixmapFolders` hold unthemed icons only.
  IconTheme(std::vector<std::filesystem::path> baseFolders, std::vector<std::filesystem::path> pixmapFolders);

  // ~/.icons and the XDG data folders' "icons"; their "pixmaps" and
  // /usr/share/pixmaps.
  static IconTheme standard();

  // Nothing for a name that is empty or contains a slash (it would reach
  // outside the themes), or that no folder holds.
  std::optional<std::filesystem::path> find(const std::string& name, const std::string& themeName, int size) const;

 private:
  struct Directory;
  struct Index;

  std::optional<Index> loadIndex(const std::string& themeName) const;
  std::optional<std::filesystem::path> findInTheme(const std::string& name, const std::string& themeName, int size,
                                                   std::vector<std::string>& visited) const;
  std::optional<std::filesystem::path> lookup(const std::string& name, const std::string& themeName,
                                              const Index& index, int size) const;
  std::optional<std::filesystem::path> unthemed(const std::string& name) const;

  std::vector<std::filesystem::path> baseFolders_;
  std::vector<std::filesystem::path> pixmapFolders_;
};

}  // namespace glidemate::host
