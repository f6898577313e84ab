#include "host/services/screen_preview/jpeg_encoder.hpp"

#include <turbojpeg.h>

#include <stdexcept>
#include <string>

namespace glidemate::host {

JpegEncoder::JpegEncoder() : handle_(tjInitCompress()) {
  if (handle_ == nullptr) throw std::runtime_error(std::string("cannot start a JPEG compressor: ") + tjGetErrorStr2(nullptr));
}

JpegEncoder::~JpegEncoder() {
  tjFree(buffer_);
  tjDestroy(handle_);
}

ByteView JpegEncoder::encode(const std::uint8_t* bgrx, PixelSize size, int stride, int quality) {
  if (size.width <= 0 || size.height <= 0) throw std::runtime_error("cannot encode an empty image");
  // The worst case for this size, so that libjpeg-turbo never reallocates
  // behind our back and the buffer is reused from frame to frame.
  const unsigned long needed = tjBufSize(size.width, size.height, TJSAMP_420);
  if (needed > capacity_) {
    tjFree(buffer_);
    buffer_ = tjAlloc(static_cast<int>(needed));
    capacity_ = buffer_ != nullptr ? needed : 0;
    if (buffer_ == nullptr) throw std::runtime_error("no memory for a JPEG image");
  }
  unsigned long length = capacity_;
  if (tjCompress2(handle_, bgrx, size.width, stride, size.height, TJPF_BGRX, &buffer_, &length, TJSAMP_420, quality,
                  TJFLAG_NOREALLOC) != 0) {
    throw std::runtime_error(std::string("JPEG encoding failed: ") + tjGetErrorStr2(handle_));
  }
  return ByteView(buffer_, length);
}

}  // namespace glidemate::host
