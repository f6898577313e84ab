// Test helper: small images made and read back with the image library, so
// tests can feed real PNG and JPEG data and check what comes out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate::testing {

// A `width` × `height` image in `format` ("png" or "jpeg"), filled with one
// colour (0xRRGGBBAA; alpha only counts for PNG).
Bytes makeImage(const std::string& format, int width, int height, std::uint32_t rgba = 0x3366CCFF);
// The same, written to `file` (its folders made on the way).
void writeImage(const std::filesystem::path& file, const std::string& format, int width, int height,
                std::uint32_t rgba = 0x3366CCFF);
// An SVG document that claims `width` × `height`: a red disc.
std::string svgImage(int width, int height);

struct DecodedImage {
  std::string format;  // "png", "jpeg", ...
  int width;
  int height;
  // The first pixel's red, green and blue.
  std::uint32_t firstPixelRgb;
  // Opacity of each pixel, row by row (255 everywhere without alpha).
  std::vector<std::uint8_t> alpha;
  bool hasAlpha = false;
  std::uint8_t alphaAt(int x, int y) const { return alpha.at(static_cast<std::size_t>(y * width + x)); }
};
// Nothing when the data is not an image the library can read.
std::optional<DecodedImage> decodeImage(ByteView data);

}  // namespace glidemate::testing
