#pragma once

#include <cstdint>
#include <optional>

#include "kit/wire/bytes.hpp"

namespace glidemate::host {

// What an encoded image says about itself before it is decoded: its format
// and its size in pixels. Reading this first lets a decoder refuse formats
// it does not take, and images whose pixels would not fit in memory, without
// allocating anything.
struct ImageHeader {
  enum class Format { png, jpeg };

  Format format;
  std::uint32_t width;
  std::uint32_t height;

  // Nothing for data that does not begin as a PNG or a baseline or
  // progressive JPEG, or whose header is cut short.
  static std::optional<ImageHeader> read(ByteView data);

  bool operator==(const ImageHeader&) const = default;
};

}  // namespace glidemate::host
