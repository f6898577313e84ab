#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/pipewire/pipewire_screen_stream.hpp"
#include "host/services/screen_preview/screen_capture.hpp"

namespace glidemate::host {

// The newest picture of a screen-cast stream and the cursor on it, kept
// between the frames the stream sends (a still screen sends none) for the
// capture to copy from. Not locked: its owner guards it.
class StreamPicture {
 public:
  // Takes the frame's pixels (BGRX rows of `stride` bytes), giving back
  // the buffer of the one before for the next frame to be copied into.
  void takeFrame(std::vector<std::uint8_t>& pixels, PixelSize size, int stride);
  // True when the pointer moved or its picture changed.
  bool takeCursor(const PipeWireScreenStream::Cursor& cursor);

  // Nothing before the first frame.
  PixelSize size() const { return size_; }
  // On the stream's pixels; nothing when the pointer is elsewhere.
  std::optional<PixelPoint> pointer() const { return pointer_; }

  // Copies `region` (within size()) into `pixels`, and the cursor's picture
  // into `cursor`, giving a frame that refers to them with the pointer
  // relative to the region. Nothing before the first frame or for a region
  // that does not fit.
  std::optional<CapturedFrame> copy(PixelRect region, std::vector<std::uint8_t>& pixels, CursorImage& cursor) const;

 private:
  std::vector<std::uint8_t> pixels_;
  PixelSize size_;
  int stride_ = 0;
  std::optional<PixelPoint> pointer_;
  std::optional<CursorImage> cursor_;  // nothing: hidden or not told yet
};

}  // namespace glidemate::host
