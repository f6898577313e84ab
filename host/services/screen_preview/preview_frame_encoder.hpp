#pragma once

#include <cstdint>
#include <vector>

#include "host/services/screen_preview/jpeg_encoder.hpp"
#include "host/services/screen_preview/screen_capture.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// Turns a captured frame into the JPEG a phone is sent, the same way for
// every desktop's capture: the cursor drawn in, then in `screen` mode the
// whole frame scaled to 1280 pixels wide, in `cursor` mode the 960 × 600
// window around the pointer at full size. Keeps its buffers from frame to
// frame. Used from one thread at a time.
class PreviewFrameEncoder {
 public:
  static constexpr int quality = 50;

  // Writes the cursor into the frame's pixels. Throws std::runtime_error
  // when the frame can't be encoded.
  ByteView encode(const CapturedFrame& frame, ScreenPreviewMode mode);

 private:
  JpegEncoder jpeg_;
  std::vector<std::uint8_t> scaled_;
};

}  // namespace glidemate::host
