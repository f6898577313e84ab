#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/services/screen_preview/pixel_geometry.hpp"
#include "kit/runtime/logger.hpp"

namespace glidemate::host {

// The pointer's picture: premultiplied ARGB pixels (alpha in the top byte),
// row by row, and the hot spot that sits on the pointer's position.
struct CursorImage {
  PixelSize size;
  PixelPoint hotSpot;
  std::vector<std::uint32_t> pixels;
};

// One captured picture: 32-bit BGRX pixels (blue in the lowest byte, the
// fourth byte unused), rows from the top. The pixels belong to the capture
// and stay valid until its next grab(); whoever encodes them may write into
// them (the cursor is drawn there).
struct CapturedFrame {
  std::uint8_t* pixels = nullptr;
  PixelSize size;
  int stride = 0;  // bytes from one row to the next
  // Where the pointer is, relative to the frame's top-left corner (possibly
  // outside it); nothing when it is not on the captured display.
  std::optional<PixelPoint> pointer;
  // The cursor to draw at the pointer, when the display shows one.
  const CursorImage* cursor = nullptr;
};

// The display the capture follows, and the pointer on it.
struct DisplayLocation {
  PixelSize size;
  // Relative to the display's top-left corner; nothing when the pointer is
  // on none of the displays.
  std::optional<PixelPoint> pointer;
};

// What the screen preview needs of a desktop: the display under the
// pointer, told when it changes and grabbed as pixels. Each desktop (an X
// server, a Wayland compositor's screen cast) implements it; the preview
// service owns one and uses it only from its capture thread, except wake().
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;

  // Connects to the desktop and follows the display under the pointer.
  // Lines worth a reader's attention (how it captures, a slower path taken)
  // go to `log`, which may be written from this thread. Throws
  // ScreenCaptureError when the desktop can't be captured.
  virtual void start(Logger& log) = 0;

  // Lets go of the desktop. Idempotent; start() may follow.
  virtual void stop() = 0;

  // Waits until the captured display may look different (its pixels, the
  // pointer's position, the cursor's picture, the displays' layout), until
  // `until`, or until wake(). True when something changed. Throws
  // ScreenCaptureError::DisplayLost when the desktop has gone.
  virtual bool waitForChange(std::chrono::steady_clock::time_point until) = 0;

  // Cuts the current or next waitForChange() short. Callable from any thread.
  virtual void wake() = 0;

  // The display to capture now: the same as before while the pointer stays
  // on it, otherwise the one under the pointer (the first display when the
  // pointer is on none). Throws ScreenCaptureError::DisplayLost.
  virtual DisplayLocation locate() = 0;

  // The pixels of `region` of the located display (within its size) with
  // the pointer and cursor; nothing when the display changed under the
  // request (the next locate() sees the change). Throws
  // ScreenCaptureError::DisplayLost.
  virtual std::optional<CapturedFrame> grab(PixelRect region) = 0;
};

}  // namespace glidemate::host
