#pragma once

#include <filesystem>
#include <vector>

#include "host/services/catalog/application_directory.hpp"

namespace glidemate::host {

// Application bundles ("Name.app" folders with a Contents/Info.plist) in a
// list of search folders, the way the macOS host finds them: each folder's
// bundles and those one folder further down (not deeper), hidden entries
// skipped, earlier folders first. A bundle without a non-empty
// CFBundleIdentifier is not an application; its name is CFBundleDisplayName,
// else CFBundleName, else its file name without ".app".
class BundleDirectory final : public ApplicationDirectory {
 public:
  explicit BundleDirectory(std::vector<std::filesystem::path> searchFolders);

  // The user's Applications folder, then /Applications, then /System/Applications.
  static std::vector<std::filesystem::path> standardFolders(const std::filesystem::path& home);

  std::vector<InstalledApplication> scan() override;
  // There is no registry of bundles to ask beyond the search folders.
  std::optional<std::string> locate(const std::string&) override { return std::nullopt; }
  // Contents/Resources/ + CFBundleIconFile (".icns" added when it has no extension).
  std::optional<std::filesystem::path> iconFile(const std::string& location) override;

 private:
  std::vector<std::filesystem::path> searchFolders_;
};

}  // namespace glidemate::host
