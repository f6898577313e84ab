#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/services/catalog/application_directory.hpp"
#include "host/services/catalog/xdg/icon_theme.hpp"

namespace glidemate::host {

// The applications of a Linux desktop: the desktop entries of the
// "applications" folders of the XDG data folders, read with GIO so that
// Hidden, NoDisplay, OnlyShowIn/NotShowIn, TryExec and localised names mean
// what they mean to the desktop's own menus.
//
// An application's identifier is its desktop-file id without ".desktop"
// ("org.gnome.Calculator"; "kde4/okular.desktop" is "kde4-okular"). The
// first folder holding an id decides it, as the user's entries override
// the system's: a user's entry that is hidden, broken or not shown hides
// the system's entry of the same id too. Entries without a command are not
// applications one can open; entries larger than maxEntryBytes are not read.
class DesktopEntryDirectory final : public ApplicationDirectory {
 public:
  static constexpr std::uintmax_t maxEntryBytes = std::uintmax_t{1} << 20;
  using ThemeName = std::function<std::optional<std::string>()>;

  // `applicationFolders` in order of precedence; `themeName` says which
  // icon theme the desktop uses now (nothing: hicolor).
  DesktopEntryDirectory(std::vector<std::filesystem::path> applicationFolders, IconTheme icons, ThemeName themeName);

  // Each XDG data folder's "applications".
  static std::vector<std::filesystem::path> standardFolders();

  std::vector<InstalledApplication> scan() override;
  std::optional<std::string> locate(const std::string& bundleId) override;
  // The entry's Icon: an absolute path as it is, else a name looked up in
  // the icon theme.
  std::optional<std::filesystem::path> iconFile(const std::string& location) override;

 private:
  // Every entry file with its id, first holder of each id only, in order.
  std::vector<std::pair<std::string, std::filesystem::path>> entries() const;

  std::vector<std::filesystem::path> applicationFolders_;
  IconTheme icons_;
  ThemeName themeName_;
};

}  // namespace glidemate::host
