#include "host/services/screen_preview/pipewire/stream_picture.hpp"

#include <cstring>

namespace glidemate::host {

void StreamPicture::takeFrame(std::vector<std::uint8_t>& pixels, PixelSize size, int stride) {
  pixels_.swap(pixels);
  size_ = size;
  stride_ = stride;
}

bool StreamPicture::takeCursor(const PipeWireScreenStream::Cursor& cursor) {
  std::optional<PixelPoint> pointer;
  if (cursor.position) pointer = PixelPoint{cursor.position->first, cursor.position->second};
  bool changed = pointer != pointer_;
  pointer_ = pointer;
  if (cursor.picture) {
    const auto& p = *cursor.picture;
    if (p.pixels.empty()) {
      changed = changed || cursor_.has_value();
      cursor_.reset();
    } else {
      CursorImage image{{p.width, p.height}, {p.hotX, p.hotY}, p.pixels};
      changed = changed || !cursor_ || cursor_->size != image.size || cursor_->hotSpot != image.hotSpot ||
                cursor_->pixels != image.pixels;
      cursor_ = std::move(image);
    }
  }
  return changed;
}

std::optional<CapturedFrame> StreamPicture::copy(PixelRect region, std::vector<std::uint8_t>& pixels,
                                                 CursorImage& cursor) const {
  const PixelRect whole{0, 0, size_.width, size_.height};
  if (pixels_.empty() || region.width <= 0 || region.height <= 0 || region.intersected(whole) != region) {
    return std::nullopt;
  }
  const auto rowBytes = static_cast<std::size_t>(region.width) * 4;
  pixels.resize(rowBytes * static_cast<std::size_t>(region.height));
  for (int y = 0; y < region.height; ++y) {
    const auto from = static_cast<std::size_t>(region.y + y) * static_cast<std::size_t>(stride_) +
                      static_cast<std::size_t>(region.x) * 4;
    std::memcpy(pixels.data() + rowBytes * static_cast<std::size_t>(y), pixels_.data() + from, rowBytes);
  }
  CapturedFrame frame;
  frame.pixels = pixels.data();
  frame.size = region.size();
  frame.stride = static_cast<int>(rowBytes);
  if (pointer_) frame.pointer = PixelPoint{pointer_->x - region.x, pointer_->y - region.y};
  if (cursor_) {
    cursor = *cursor_;
    frame.cursor = &cursor;
  }
  return frame;
}

}  // namespace glidemate::host
