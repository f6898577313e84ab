#include "host/services/screen_preview/cursor_overlay.hpp"

#include <algorithm>

namespace glidemate::host {
namespace {

// a × b / 255, rounded, for bytes.
std::uint32_t scale(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t t = a * b + 128;
  return (t + (t >> 8)) >> 8;
}

// A colour channel over what shows through; a cursor whose colour exceeds
// its alpha (not truly premultiplied) saturates rather than wrapping.
std::uint8_t over(std::uint32_t colour, std::uint8_t below, std::uint32_t keep) {
  return static_cast<std::uint8_t>(std::min<std::uint32_t>(colour + scale(below, keep), 255));
}

}  // namespace

void drawCursor(const CapturedFrame& frame) {
  if (frame.cursor == nullptr || !frame.pointer) return;
  const CursorImage& cursor = *frame.cursor;
  const PixelPoint topLeft{frame.pointer->x - cursor.hotSpot.x, frame.pointer->y - cursor.hotSpot.y};
  const PixelRect placed = PixelRect{topLeft.x, topLeft.y, cursor.size.width, cursor.size.height}.intersected(
      {0, 0, frame.size.width, frame.size.height});
  if (placed.width == 0 || cursor.pixels.size() < static_cast<std::size_t>(cursor.size.width) * cursor.size.height) {
    return;
  }
  for (int y = placed.y; y < placed.y + placed.height; ++y) {
    const std::uint32_t* source = cursor.pixels.data() + static_cast<std::size_t>(y - topLeft.y) * cursor.size.width +
                                  (placed.x - topLeft.x);
    std::uint8_t* row = frame.pixels + static_cast<std::size_t>(y) * frame.stride + static_cast<std::size_t>(placed.x) * 4;
    for (int x = 0; x < placed.width; ++x, ++source, row += 4) {
      const std::uint32_t argb = *source;
      const std::uint32_t alpha = argb >> 24;
      if (alpha == 0) continue;
      // Premultiplied: the cursor's colour plus what shows through it.
      const std::uint32_t keep = 255 - alpha;
      row[0] = over(argb & 0xff, row[0], keep);
      row[1] = over((argb >> 8) & 0xff, row[1], keep);
      row[2] = over((argb >> 16) & 0xff, row[2], keep);
    }
  }
}

}  // namespace glidemate::host
