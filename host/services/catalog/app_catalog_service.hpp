#pragma once

#include <asio/awaitable.hpp>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/services/catalog/application_directory.hpp"
#include "host/services/catalog/application_launcher.hpp"
#include "host/services/catalog/application_switcher.hpp"
#include "kit/wire/bytes.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// The phone's launcher: the installed applications by name with whether
// each runs, their icons as small PNGs, and launching, hiding and quitting
// them. The catalog is scanned anew on every apps(); icons are rendered on
// demand.
class AppCatalogService {
 public:
  static constexpr int iconSide = 64;

  // `ownBundleId` is this program's: it is never hidden or quit.
  AppCatalogService(std::unique_ptr<ApplicationDirectory> directory, std::unique_ptr<ApplicationLauncher> launcher,
                    std::unique_ptr<ApplicationSwitcher> running, std::string ownBundleId);

  // Sorted by name for people (case ignored); refreshes locations().
  std::vector<AppInfo> apps();
  // A 64 × 64 PNG; nothing when the application or its icon can't be found
  // or read.
  std::optional<Bytes> icon(const std::string& bundleId);
  // Brings a running one forward, else starts it. False when there is no
  // such application; throws the system's error when starting it failed.
  asio::awaitable<bool> launch(const std::string& bundleId);
  // The ordinary running application with this identifier, if any.
  std::optional<RunningApplication> runningApplication(const std::string& bundleId);
  void hide(const RunningApplication& application) { running_->hide(application); }
  void terminate(const RunningApplication& application) { running_->terminate(application); }

  // Identifier to location, as the last scan found them.
  const std::map<std::string, std::string>& locations() const { return locations_; }

 private:
  std::optional<std::string> locationOf(const std::string& bundleId);
  // What the last scan found (scanning once if none has run yet), for
  // telling which installed application something running is.
  const std::vector<InstalledApplication>& installed();

  std::unique_ptr<ApplicationDirectory> directory_;
  std::unique_ptr<ApplicationLauncher> launcher_;
  std::unique_ptr<ApplicationSwitcher> running_;
  std::string ownBundleId_;
  std::map<std::string, std::string> locations_;
  std::optional<std::vector<InstalledApplication>> installed_;
};

}  // namespace glidemate::host
