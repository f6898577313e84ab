#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <functional>
#include <memory>

#include "host/services/screen_preview/screen_capture.hpp"
#include "kit/runtime/logger.hpp"
#include "kit/wire/bytes.hpp"
#include "kit/wire/status.hpp"

namespace glidemate::host {

// Captures the display under the pointer while someone watches, and turns
// each changed frame into a JPEG: the whole display scaled to 1280 pixels
// wide (`screen` mode) or the 960 × 600 window around the pointer
// (`cursor`). At most 24 frames a second, and only when the display, the
// pointer or the cursor changed; the first frame after start(), a mode
// change or requestFrame() comes even from a still screen.
//
// Capturing and encoding run on one thread of the service's own, from
// start() to stop(); its frames go to the frame handler on that thread.
// Everything else is called on the main executor. The mode and the handler
// are shared with the thread under a lock.
class ScreenPreviewService {
 public:
  // Called on the capture thread with each frame's JPEG bytes.
  using FrameHandler = std::function<void(Bytes jpeg)>;

  ScreenPreviewService(const asio::any_io_executor& executor, std::unique_ptr<ScreenCapture> capture,
                       Logger& logger);
  // Ends the capture thread, waiting for it.
  ~ScreenPreviewService();
  ScreenPreviewService(const ScreenPreviewService&) = delete;
  ScreenPreviewService& operator=(const ScreenPreviewService&) = delete;

  // Starts capturing, or joins a start under way, after a stop under way
  // has ended. With a capture already running it only asks for a fresh
  // frame. Throws ScreenCaptureError (or the encoder's std::runtime_error)
  // when the capture can't start; returns without a stream when stop()
  // came first.
  asio::awaitable<void> start();

  // Ends the capture (the thread lets go of the display and ends) and drops
  // the frame handler; returns once the thread has ended.
  asio::awaitable<void> stop();

  // A capture is running.
  bool hasStream() const;
  // A capture is starting, running or stopping: stop() has work to do.
  bool isActive() const;

  void setOnFrame(FrameHandler handler);
  // Shared by every viewer; a change is shown in the next frame, which
  // comes even if the screen is still.
  void setMode(ScreenPreviewMode mode);
  ScreenPreviewMode mode() const;
  // Asks for one frame even if nothing changed.
  void requestFrame();

 private:
  struct Core;
  std::shared_ptr<Core> core_;
};

}  // namespace glidemate::host
