#pragma once

#include <optional>
#include <vector>

#include "host/services/screen_preview/pixel_geometry.hpp"

namespace glidemate::host {

// Where the preview looks: which display, and which part of it.
namespace PreviewLayout {

// `screen` frames are scaled to this width, keeping their proportions.
inline constexpr int screenWidth = 1280;
// `cursor` frames are this window of the display around the pointer.
inline constexpr PixelSize cursorWindow{960, 600};

// The first display holding the pointer; the first display when none does
// (or the pointer is unknown); nothing when there are no displays.
std::optional<PixelRect> displayUnderPointer(const std::vector<PixelRect>& displays,
                                             std::optional<PixelPoint> pointer);

// The `cursor` window of an image of `image` size: centred on the pointer
// (on the image's centre when the pointer is unknown), kept inside the
// image, and cut to the image where the image is smaller.
PixelRect cursorCrop(PixelSize image, std::optional<PixelPoint> pointer);

// The size a `screen` frame of `image` size is scaled to.
PixelSize scaledScreenSize(PixelSize image);

}  // namespace PreviewLayout

}  // namespace glidemate::host
