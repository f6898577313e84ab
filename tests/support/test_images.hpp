// Test helper: small images made and read back with the image library, so
// tests can feed real PNG and JPEG data and check what comes out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kit/wire/bytes.hpp"

namespace glidemate::testing {

// A `width` × `height` image in `format` ("png" or "jpeg"), filled with one
// colour (0xRRGGBBAA; alpha only counts for PNG).
Bytes makeImage(const std::string& format, int width, int height, std::uint32_t rgba = 0x3366CCFF);

struct DecodedImage {
  std::string format;  // "png", "jpeg", ...
  int width;
  int height;
  // The first pixel's red, green and blue.
  std::uint32_t firstPixelRgb;
};
// Nothing when the data is not an image the library can read.
std::optional<DecodedImage> decodeImage(ByteView data);

}  // namespace glidemate::testing
