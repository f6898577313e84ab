#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "kit/wire/bytes.hpp"

namespace glidemate::host {

// Icon files larger than this are not read: icons are small, and a huge
// file is a mistake or an attack.
inline constexpr std::uintmax_t maxIconFileBytes = std::uintmax_t{8} << 20;
// Bitmap icons claiming more pixels than this are refused before decoding;
// vector icons are drawn at the wanted size whatever size they claim.
inline constexpr std::uint64_t maxIconPixels = 4096 * 4096;

// The icon in `file` (PNG, SVG, XPM or any format gdk-pixbuf reads), scaled
// to fit a `side` × `side` square with its proportions kept, centred on a
// transparent background, as PNG. Nothing for a file that is missing, too
// large, damaged or not an image.
std::optional<Bytes> renderIconPng(const std::filesystem::path& file, int side);

}  // namespace glidemate::host
