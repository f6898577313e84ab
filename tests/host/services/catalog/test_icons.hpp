// Test helper: real icon files (PNG made with gdk-pixbuf, SVG as text) and
// a way to read back the PNG the catalog renders.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate::host::testing {

// A `width` × `height` PNG of one colour at `file`.
void writePng(const std::filesystem::path& file, int width, int height, std::uint32_t rgba = 0x3366ccff);
// An SVG document that claims `width` × `height`.
std::string svg(int width, int height);

struct DecodedImage {
  std::string format;
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  // Opacity of each pixel, row by row (255 everywhere without alpha).
  std::vector<std::uint8_t> alpha;
  std::uint8_t alphaAt(int x, int y) const { return alpha.at(static_cast<std::size_t>(y * width + x)); }
};
std::optional<DecodedImage> decode(const Bytes& data);

}  // namespace glidemate::host::testing
