#pragma once

#include <cstdint>

#include "host/services/screen_preview/pixel_geometry.hpp"
#include "kit/wire/bytes.hpp"

namespace glidemate::host {

// Baseline JPEG with libjpeg-turbo, read straight from 32-bit BGRX rows,
// chroma subsampled 4:2:0. Keeps its compressor and output buffer from
// one image to the next. Used from one thread at a time.
class JpegEncoder {
 public:
  // Throws std::runtime_error when the compressor can't be made.
  JpegEncoder();
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  // The JPEG of `size` pixels at `bgrx` (`stride` bytes per row), quality
  // 1 to 100. The bytes stay valid until the next call. Throws
  // std::runtime_error when libjpeg-turbo refuses the image.
  ByteView encode(const std::uint8_t* bgrx, PixelSize size, int stride, int quality);

 private:
  void* handle_;
  unsigned char* buffer_ = nullptr;
  unsigned long capacity_ = 0;
};

}  // namespace glidemate::host
