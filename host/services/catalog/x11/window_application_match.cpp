#include "host/services/catalog/x11/window_application_match.hpp"

#include <algorithm>
#include <cctype>

namespace glidemate::host {
namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view lastPart(std::string_view id) {
  const auto dot = id.rfind('.');
  return dot == std::string_view::npos ? id : id.substr(dot + 1);
}

// A desktop-file name as KDE writes it: an id, perhaps with ".desktop" or a folder.
std::string desktopFileId(std::string value) {
  if (const auto slash = value.rfind('/'); slash != std::string::npos) value.erase(0, slash + 1);
  if (value.ends_with(".desktop")) value.resize(value.size() - 8);
  return value;
}

}  // namespace

std::optional<std::string> applicationOfWindow(const WindowIdentity& window,
                                               const std::vector<InstalledApplication>& installed) {
  const auto find = [&](auto&& matches) -> std::optional<std::string> {
    for (const auto& application : installed) {
      if (matches(application)) return application.bundleId;
    }
    return std::nullopt;
  };
  if (!window.gtkApplicationId.empty()) {
    if (auto id = find([&](const auto& a) { return a.bundleId == window.gtkApplicationId; })) return id;
  }
  if (!window.kdeDesktopFile.empty()) {
    const std::string file = desktopFileId(window.kdeDesktopFile);
    if (auto id = find([&](const auto& a) { return a.bundleId == file; })) return id;
  }
  const std::vector<std::string_view> names{window.className, window.classInstance};
  for (const auto name : names) {
    if (name.empty()) continue;
    if (auto id = find([&](const auto& a) { return !a.windowClass.empty() && a.windowClass == name; })) return id;
  }
  for (const auto name : names) {
    if (name.empty()) continue;
    if (auto id = find([&](const auto& a) { return sameIgnoringCase(a.bundleId, name); })) return id;
    if (auto id = find([&](const auto& a) { return sameIgnoringCase(lastPart(a.bundleId), name); })) return id;
  }
  return std::nullopt;
}

}  // namespace glidemate::host
