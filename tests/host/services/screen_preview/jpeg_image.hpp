// Test helper: a JPEG decoded back to pixels, to check what a frame shows.
#pragma once

#include <cstdint>
#include <vector>

#include "kit/wire/bytes.hpp"

namespace glidemate::host::testing {

struct Rgb {
  int r;
  int g;
  int b;
  bool operator==(const Rgb&) const = default;
};

class JpegImage {
 public:
  // Throws std::runtime_error when `jpeg` does not decode.
  explicit JpegImage(ByteView jpeg);

  int width() const { return width_; }
  int height() const { return height_; }
  Rgb at(int x, int y) const;
  // Each channel within `tolerance` of `expected` (JPEG is lossy).
  bool near(int x, int y, Rgb expected, int tolerance = 24) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> rgb_;
};

// 0xRRGGBB as channels.
inline Rgb rgbOf(std::uint32_t colour) {
  return {static_cast<int>((colour >> 16) & 0xff), static_cast<int>((colour >> 8) & 0xff),
          static_cast<int>(colour & 0xff)};
}

}  // namespace glidemate::host::testing
