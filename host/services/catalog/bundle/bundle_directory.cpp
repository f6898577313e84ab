#include "host/services/catalog/bundle/bundle_directory.hpp"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace glidemate::host {
namespace {

// Info.plist files are a few kilobytes; anything far larger is not one.
constexpr std::uintmax_t maxInfoPlistBytes = std::uintmax_t{1} << 20;

struct PlistFree {
  void operator()(plist_t plist) const { plist_free(plist); }
};
using Plist = std::unique_ptr<void, PlistFree>;

// The visible entries of a folder, by name; nothing for a folder that
// can't be read.
std::vector<std::filesystem::path> entriesOf(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().starts_with('.')) continue;
    entries.push_back(it->path());
  }
  if (error) return {};
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool isBundle(const std::filesystem::path& entry) { return entry.extension() == ".app"; }

// The bundles in `folder` and in its subfolders (one level only).
std::vector<std::filesystem::path> bundlesIn(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> bundles;
  for (const auto& entry : entriesOf(folder)) {
    if (isBundle(entry)) {
      bundles.push_back(entry);
      continue;
    }
    for (const auto& inner : entriesOf(entry)) {
      if (isBundle(inner)) bundles.push_back(inner);
    }
  }
  return bundles;
}

Plist readInfo(const std::filesystem::path& bundle) {
  const auto file = bundle / "Contents" / "Info.plist";
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > maxInfoPlistBytes) return nullptr;
  std::ifstream in(file, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  plist_t root = nullptr;
  plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
  Plist info(root);
  if (!info || plist_get_node_type(info.get()) != PLIST_DICT) return nullptr;
  return info;
}

std::optional<std::string> stringFor(plist_t dictionary, const char* key) {
  plist_t node = plist_dict_get_item(dictionary, key);
  if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
  char* value = nullptr;
  plist_get_string_val(node, &value);
  if (value == nullptr) return std::nullopt;
  std::string text(value);
  std::free(value);
  return text;
}

}  // namespace

BundleDirectory::BundleDirectory(std::vector<std::filesystem::path> searchFolders)
    : searchFolders_(std::move(searchFolders)) {}

std::vector<std::filesystem::path> BundleDirectory::standardFolders(const std::filesystem::path& home) {
  return {home / "Applications", "/Applications", "/System/Applications"};
}

std::vector<InstalledApplication> BundleDirectory::scan() {
  std::vector<InstalledApplication> found;
  for (const auto& folder : searchFolders_) {
    for (const auto& bundle : bundlesIn(folder)) {
      const Plist info = readInfo(bundle);
      if (!info) continue;
      const auto id = stringFor(info.get(), "CFBundleIdentifier");
      if (!id || id->empty()) continue;
      auto name = stringFor(info.get(), "CFBundleDisplayName");
      if (!name) name = stringFor(info.get(), "CFBundleName");
      if (!name) name = bundle.stem().string();
      found.push_back({*id, *name, bundle.string(), {}});
    }
  }
  return found;
}

std::optional<std::filesystem::path> BundleDirectory::iconFile(const std::string& location) {
  const std::filesystem::path bundle(location);
  const Plist info = readInfo(bundle);
  if (!info) return std::nullopt;
  const auto name = stringFor(info.get(), "CFBundleIconFile");
  if (!name || name->empty() || name->find('/') != std::string::npos) return std::nullopt;
  std::filesystem::path file = bundle / "Contents" / "Resources" / *name;
  if (!file.has_extension()) file += ".icns";
  return file;
}

}  // namespace glidemate::host
