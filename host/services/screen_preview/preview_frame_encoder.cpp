#include "host/services/screen_preview/preview_frame_encoder.hpp"

#include <libyuv/scale_argb.h>

#include <stdexcept>

#include "host/services/screen_preview/cursor_overlay.hpp"
#include "host/services/screen_preview/preview_layout.hpp"

namespace glidemate::host {

ByteView PreviewFrameEncoder::encode(const CapturedFrame& frame, ScreenPreviewMode mode) {
  if (frame.size.width <= 0 || frame.size.height <= 0) throw std::runtime_error("cannot encode an empty frame");
  drawCursor(frame);
  if (mode == ScreenPreviewMode::cursor) {
    const PixelRect crop = PreviewLayout::cursorCrop(frame.size, frame.pointer);
    const std::uint8_t* origin =
        frame.pixels + static_cast<std::size_t>(crop.y) * frame.stride + static_cast<std::size_t>(crop.x) * 4;
    return jpeg_.encode(origin, crop.size(), frame.stride, quality);
  }
  const PixelSize target = PreviewLayout::scaledScreenSize(frame.size);
  if (target == frame.size) return jpeg_.encode(frame.pixels, frame.size, frame.stride, quality);
  const int stride = target.width * 4;
  scaled_.resize(static_cast<std::size_t>(stride) * target.height);
  // libyuv's ARGB scaler treats the unused fourth byte as alpha; it is
  // carried along and ignored by the encoder.
  if (libyuv::ARGBScale(frame.pixels, frame.stride, frame.size.width, frame.size.height, scaled_.data(), stride,
                        target.width, target.height, libyuv::kFilterBilinear) != 0) {
    throw std::runtime_error("cannot scale the frame");
  }
  return jpeg_.encode(scaled_.data(), target, stride, quality);
}

}  // namespace glidemate::host
