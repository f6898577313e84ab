#include "tests/host/services/screen_preview/jpeg_image.hpp"

#include <turbojpeg.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace glidemate::host::testing {

JpegImage::JpegImage(ByteView jpeg) {
  std::unique_ptr<void, int (*)(tjhandle)> decoder(tjInitDecompress(), tjDestroy);
  int subsampling = 0;
  int colourspace = 0;
  if (!decoder || tjDecompressHeader3(decoder.get(), jpeg.data(), jpeg.size(), &width_, &height_, &subsampling,
                                      &colourspace) != 0) {
    throw std::runtime_error("not a JPEG");
  }
  rgb_.resize(static_cast<std::size_t>(width_) * height_ * 3);
  if (tjDecompress2(decoder.get(), jpeg.data(), jpeg.size(), rgb_.data(), width_, width_ * 3, height_, TJPF_RGB, 0) !=
      0) {
    throw std::runtime_error("the JPEG does not decode");
  }
}

Rgb JpegImage::at(int x, int y) const {
  const std::uint8_t* p = rgb_.data() + (static_cast<std::size_t>(y) * width_ + x) * 3;
  return {p[0], p[1], p[2]};
}

bool JpegImage::near(int x, int y, Rgb expected, int tolerance) const {
  const Rgb actual = at(x, y);
  return std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
         std::abs(actual.b - expected.b) <= tolerance;
}

}  // namespace glidemate::host::testing
