// Test helper: the frames a screen preview service sends, kept as they
// come (on its capture thread) and decoded when a test looks for one.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "host/services/screen_preview/screen_preview_service.hpp"
#include "tests/host/services/screen_preview/jpeg_image.hpp"

namespace glidemate::host::testing {

class PreviewFrames {
 public:
  PreviewFrames() = default;
  PreviewFrames(const PreviewFrames&) = delete;
  PreviewFrames& operator=(const PreviewFrames&) = delete;

  // Starts `service` with this as its frame handler (a stop lets go of the
  // handler), running `io` until the start is over; throws what it throws.
  void start(asio::io_context& io, ScreenPreviewService& service);

  // The next frame, after those already looked at, whose picture `accept`
  // takes (a window may still be growing into place in the first ones),
  // running `io` meanwhile; nothing within `limit`.
  std::optional<JpegImage> next(asio::io_context& io, const std::function<bool(const JpegImage&)>& accept,
                                std::chrono::steady_clock::duration limit = std::chrono::seconds(30));

 private:
  std::mutex lock_;
  std::vector<Bytes> frames_;
  std::size_t taken_ = 0;
};

// The test Wayland window's four quadrants (red, green, white, blue from
// the top left, clockwise), checked a quarter of the way in from each
// corner of a frame.
bool showsTheWindowQuadrants(const JpegImage& image);

}  // namespace glidemate::host::testing
