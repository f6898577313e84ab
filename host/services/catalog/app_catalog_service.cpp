#include "host/services/catalog/app_catalog_service.hpp"

#include <algorithm>
#include <set>

#include "host/services/image/icon_png.hpp"
#include "host/services/name_order.hpp"

namespace glidemate::host {

AppCatalogService::AppCatalogService(std::unique_ptr<ApplicationDirectory> directory,
                                     std::unique_ptr<ApplicationLauncher> launcher,
                                     std::unique_ptr<ApplicationSwitcher> running, std::string ownBundleId)
    : directory_(std::move(directory)),
      launcher_(std::move(launcher)),
      running_(std::move(running)),
      ownBundleId_(std::move(ownBundleId)) {}

std::vector<AppInfo> AppCatalogService::apps() {
  std::vector<InstalledApplication> kept;
  std::set<std::string> seen;
  for (auto& application : directory_->scan()) {
    if (seen.insert(application.bundleId).second) kept.push_back(std::move(application));
  }
  locations_.clear();
  for (const auto& application : kept) locations_[application.bundleId] = application.location;
  installed_ = kept;

  std::set<std::string> running;
  for (const auto& application : running_->list(kept)) running.insert(application.bundleId);

  std::vector<AppInfo> apps;
  apps.reserve(kept.size());
  for (const auto& application : kept) {
    apps.push_back({application.bundleId, application.name, running.contains(application.bundleId)});
  }
  const NameOrder byName;
  std::stable_sort(apps.begin(), apps.end(), [&](const AppInfo& a, const AppInfo& b) { return byName(a.name, b.name); });
  return apps;
}

std::optional<std::string> AppCatalogService::locationOf(const std::string& bundleId) {
  if (const auto it = locations_.find(bundleId); it != locations_.end()) return it->second;
  return directory_->locate(bundleId);
}

const std::vector<InstalledApplication>& AppCatalogService::installed() {
  if (!installed_) apps();
  return *installed_;
}

std::optional<Bytes> AppCatalogService::icon(const std::string& bundleId) {
  const auto location = locationOf(bundleId);
  if (!location) return std::nullopt;
  const auto file = directory_->iconFile(*location);
  if (!file) return std::nullopt;
  return renderIconPng(*file, iconSide);
}

asio::awaitable<bool> AppCatalogService::launch(const std::string& bundleId) {
  for (const auto& application : running_->list(installed())) {
    if (application.bundleId == bundleId) co_return running_->activate(application);
  }
  const auto location = locationOf(bundleId);
  if (!location) co_return false;
  co_await launcher_->open(*location);
  co_return true;
}

std::optional<RunningApplication> AppCatalogService::runningApplication(const std::string& bundleId) {
  if (bundleId == ownBundleId_) return std::nullopt;
  for (auto& application : running_->list(installed())) {
    if (application.bundleId == bundleId && application.isRegular) return std::move(application);
  }
  return std::nullopt;
}

}  // namespace glidemate::host
