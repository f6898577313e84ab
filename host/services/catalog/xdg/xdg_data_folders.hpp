#pragma once

#include <filesystem>
#include <vector>

namespace glidemate::host {

// The XDG data folders in order of precedence: $XDG_DATA_HOME (or
// ~/.local/share), then each of $XDG_DATA_DIRS (or /usr/local/share and
// /usr/share). Relative entries are ignored, as XDG base directories require.
std::vector<std::filesystem::path> xdgDataFolders();

}  // namespace glidemate::host
