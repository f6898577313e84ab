#include "host/services/catalog/xdg/desktop_entry_directory.hpp"

#include <gio/gdesktopappinfo.h>

#include <algorithm>
#include <memory>
#include <set>

#include "host/services/catalog/app_catalog_service.hpp"
#include "host/services/catalog/xdg/xdg_data_folders.hpp"

namespace glidemate::host {
namespace {

constexpr std::string_view desktopSuffix = ".desktop";

struct Unref {
  void operator()(GDesktopAppInfo* info) const { g_object_unref(info); }
};
using Entry = std::unique_ptr<GDesktopAppInfo, Unref>;

// The entry as the desktop would use it, or nothing: unreadable, too large,
// not an application, deleted (Hidden) or failing its TryExec.
Entry load(const std::filesystem::path& file) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > DesktopEntryDirectory::maxEntryBytes) return nullptr;
  Entry entry(g_desktop_app_info_new_from_filename(file.c_str()));
  if (!entry || g_desktop_app_info_get_is_hidden(entry.get())) return nullptr;
  return entry;
}

bool canBeOpened(GDesktopAppInfo* entry) {
  const char* command = g_app_info_get_commandline(G_APP_INFO(entry));
  return (command != nullptr && *command != '\0') || g_desktop_app_info_get_boolean(entry, "DBusActivatable");
}

std::string text(const char* value) { return value != nullptr ? value : ""; }

}  // namespace

DesktopEntryDirectory::DesktopEntryDirectory(std::vector<std::filesystem::path> applicationFolders, IconTheme icons,
                                             ThemeName themeName)
    : applicationFolders_(std::move(applicationFolders)), icons_(std::move(icons)), themeName_(std::move(themeName)) {}

std::vector<std::filesystem::path> DesktopEntryDirectory::standardFolders() {
  auto folders = xdgDataFolders();
  for (auto& folder : folders) folder /= "applications";
  return folders;
}

std::vector<std::pair<std::string, std::filesystem::path>> DesktopEntryDirectory::entries() const {
  std::vector<std::pair<std::string, std::filesystem::path>> found;
  std::set<std::string> seen;
  for (const auto& folder : applicationFolders_) {
    std::vector<std::pair<std::string, std::filesystem::path>> inFolder;
    std::error_code error;
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (std::filesystem::recursive_directory_iterator it(folder, options, error), end; !error && it != end;
         it.increment(error)) {
      const auto name = it->path().filename().string();
      if (name.starts_with('.')) {
        if (it->is_directory(error)) it.disable_recursion_pending();
        continue;
      }
      if (!name.ends_with(desktopSuffix) || it->is_directory(error)) continue;
      std::string id = it->path().lexically_relative(folder).string();
      id.resize(id.size() - desktopSuffix.size());
      std::replace(id.begin(), id.end(), '/', '-');
      inFolder.emplace_back(std::move(id), it->path());
    }
    // A folder's own order is the file system's; make it the same every time.
    std::sort(inFolder.begin(), inFolder.end());
    for (auto& entry : inFolder) {
      if (seen.insert(entry.first).second) found.push_back(std::move(entry));
    }
  }
  return found;
}

std::vector<InstalledApplication> DesktopEntryDirectory::scan() {
  std::vector<InstalledApplication> found;
  for (const auto& [id, file] : entries()) {
    const Entry entry = load(file);
    if (!entry || !g_app_info_should_show(G_APP_INFO(entry.get())) || !canBeOpened(entry.get())) continue;
    std::string name = text(g_app_info_get_name(G_APP_INFO(entry.get())));
    if (name.empty()) name = id;
    found.push_back({id, std::move(name), file.string(), text(g_desktop_app_info_get_startup_wm_class(entry.get()))});
  }
  return found;
}

std::optional<std::string> DesktopEntryDirectory::locate(const std::string& bundleId) {
  if (bundleId.empty() || bundleId.find('/') != std::string::npos) return std::nullopt;
  for (const auto& [id, file] : entries()) {
    if (id != bundleId) continue;
    const Entry entry = load(file);
    if (!entry || !canBeOpened(entry.get())) return std::nullopt;
    return file.string();
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> DesktopEntryDirectory::iconFile(const std::string& location) {
  const Entry entry = load(location);
  if (!entry) return std::nullopt;
  gchar* value = g_desktop_app_info_get_string(entry.get(), "Icon");
  std::string icon = text(value);
  g_free(value);
  if (icon.empty()) return std::nullopt;
  if (std::filesystem::path(icon).is_absolute()) return std::filesystem::path(icon);
  // Old entries name the file ("foo.png") where a name ("foo") is meant.
  for (std::string_view extension : {".png", ".svg", ".xpm"}) {
    if (icon.ends_with(extension)) {
      icon.resize(icon.size() - extension.size());
      break;
    }
  }
  const auto theme = themeName_ ? themeName_() : std::nullopt;
  return icons_.find(icon, theme.value_or(IconTheme::fallbackTheme), AppCatalogService::iconSide);
}

}  // namespace glidemate::host
