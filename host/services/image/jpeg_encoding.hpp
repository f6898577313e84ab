#pragma once

// host/services/image: the one place images are decoded, scaled and encoded
// (now-playing artwork, app icons), with gdk-pixbuf kept behind it.

#include <cstdint>
#include <optional>

#include "kit/wire/bytes.hpp"

namespace glidemate::host {

// Images with more pixels than this are refused before decoding: a few
// megabytes of compressed data can claim a size that would exhaust memory.
inline constexpr std::uint64_t maxDecodedPixels = 40'000'000;

// Decodes a PNG or JPEG image and encodes it as a JPEG of quality 80 whose
// longest side is at most `longestSide` pixels (at least 1); smaller images
// keep their size, they are never enlarged. Transparent parts are laid on
// white. Nothing for data that is not a PNG or JPEG, is damaged, or has
// more than maxDecodedPixels pixels. Takes time for large images: call it
// off the main executor.
std::optional<Bytes> encodeJpeg(ByteView image, std::uint32_t longestSide);

}  // namespace glidemate::host
