#include "tests/host/services/screen_preview/preview_frames.hpp"

#include "tests/support/run_awaitable.hpp"

namespace glidemate::host::testing {

void PreviewFrames::start(asio::io_context& io, ScreenPreviewService& service) {
  service.setOnFrame([this](Bytes jpeg) {
    std::lock_guard guard(lock_);
    frames_.push_back(std::move(jpeg));
  });
  glidemate::testing::runAwaitable(io, service.start());
}

std::optional<JpegImage> PreviewFrames::next(asio::io_context& io,
                                             const std::function<bool(const JpegImage&)>& accept,
                                             std::chrono::steady_clock::duration limit) {
  std::optional<JpegImage> found;
  glidemate::testing::runUntil(io, [&] {
    std::lock_guard guard(lock_);
    for (; !found && taken_ < frames_.size(); ++taken_) {
      JpegImage image(frames_[taken_]);
      if (accept(image)) found.emplace(image);
    }
    return found.has_value();
  }, limit);
  return found;
}

bool showsTheWindowQuadrants(const JpegImage& image) {
  const int w = image.width(), h = image.height();
  return image.near(w / 4, h / 4, rgbOf(0xff0000)) && image.near(3 * w / 4, h / 4, rgbOf(0x00ff00)) &&
         image.near(3 * w / 4, 3 * h / 4, rgbOf(0xffffff)) && image.near(w / 4, 3 * h / 4, rgbOf(0x0000ff));
}

}  // namespace glidemate::host::testing
