#include "host/services/screen_preview/preview_layout.hpp"

#include <algorithm>
#include <cstdint>

namespace glidemate::host::PreviewLayout {

std::optional<PixelRect> displayUnderPointer(const std::vector<PixelRect>& displays,
                                             std::optional<PixelPoint> pointer) {
  if (displays.empty()) return std::nullopt;
  if (pointer) {
    for (const auto& d : displays) {
      if (d.contains(*pointer)) return d;
    }
  }
  return displays.front();
}

PixelRect cursorCrop(PixelSize image, std::optional<PixelPoint> pointer) {
  const PixelPoint at = pointer.value_or(PixelPoint{image.width / 2, image.height / 2});
  const int x = std::min(std::max(at.x - cursorWindow.width / 2, 0), std::max(image.width - cursorWindow.width, 0));
  const int y =
      std::min(std::max(at.y - cursorWindow.height / 2, 0), std::max(image.height - cursorWindow.height, 0));
  return PixelRect{x, y, cursorWindow.width, cursorWindow.height}.intersected({0, 0, image.width, image.height});
}

PixelSize scaledScreenSize(PixelSize image) {
  const std::int64_t height =
      (static_cast<std::int64_t>(image.height) * screenWidth + std::max(image.width, 1) / 2) / std::max(image.width, 1);
  return {screenWidth, static_cast<int>(std::max<std::int64_t>(height, 1))};
}

}  // namespace glidemate::host::PreviewLayout
