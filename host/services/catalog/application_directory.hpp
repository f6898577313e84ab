#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// One installed application as the system describes it.
struct InstalledApplication {
  std::string bundleId;
  std::string name;
  // Where it is installed: the bundle's or the desktop entry's path. Icons
  // and launching start from here.
  std::string location;
  // The class its windows announce when that is not its identifier (a
  // desktop entry's StartupWMClass); empty when not known.
  std::string windowClass;
  bool operator==(const InstalledApplication&) const = default;
};

// Where the installed applications are found.
class ApplicationDirectory {
 public:
  virtual ~ApplicationDirectory() = default;
  // Every application found, in the order of precedence: when an identifier
  // occurs twice, the earlier one is the one that counts.
  virtual std::vector<InstalledApplication> scan() = 0;
  // Where the application with this identifier is, asked of the system
  // directly (for one that a scan did not list).
  virtual std::optional<std::string> locate(const std::string& bundleId) = 0;
  // The image file of the icon of the application at `location`.
  virtual std::optional<std::filesystem::path> iconFile(const std::string& location) = 0;
};

}  // namespace glidemate::host
