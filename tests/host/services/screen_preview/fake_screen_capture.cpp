#include "tests/host/services/screen_preview/fake_screen_capture.hpp"

#include "host/services/screen_preview/screen_capture_error.hpp"

namespace glidemate::host::testing {

void FakeScreenCapture::Control::change() {
  std::lock_guard guard(lock);
  changed = true;
  wakeUp.notify_all();
}

void FakeScreenCapture::Control::lose() {
  std::lock_guard guard(lock);
  loseDisplay = true;
  wakeUp.notify_all();
}

void FakeScreenCapture::start(Logger&) {
  std::lock_guard guard(control_->lock);
  ++control_->starts;
  if (control_->failStart) throw ScreenCaptureError::cannotConnect("fake");
  control_->running = true;
}

void FakeScreenCapture::stop() {
  std::lock_guard guard(control_->lock);
  if (control_->running) ++control_->stops;
  control_->running = false;
}

bool FakeScreenCapture::waitForChange(std::chrono::steady_clock::time_point until) {
  std::unique_lock guard(control_->lock);
  auto ready = [&] { return control_->changed || control_->woken || control_->loseDisplay; };
  if (until == std::chrono::steady_clock::time_point::max()) {
    control_->wakeUp.wait(guard, ready);
  } else {
    control_->wakeUp.wait_until(guard, until, ready);
  }
  if (control_->loseDisplay) throw ScreenCaptureError::displayLost();
  control_->woken = false;
  const bool changed = control_->changed;
  control_->changed = false;
  return changed;
}

void FakeScreenCapture::wake() {
  std::lock_guard guard(control_->lock);
  control_->woken = true;
  control_->wakeUp.notify_all();
}

DisplayLocation FakeScreenCapture::locate() {
  std::lock_guard guard(control_->lock);
  return DisplayLocation{control_->display, control_->pointer};
}

std::optional<CapturedFrame> FakeScreenCapture::grab(PixelRect region) {
  std::lock_guard guard(control_->lock);
  ++control_->grabs;
  const std::uint32_t bgrx = control_->colour;  // 0xRRGGBB is B, G, R, X in memory
  pixels_.resize(static_cast<std::size_t>(region.width) * region.height * 4);
  for (std::size_t i = 0; i < pixels_.size(); i += 4) {
    pixels_[i] = static_cast<std::uint8_t>(bgrx);
    pixels_[i + 1] = static_cast<std::uint8_t>(bgrx >> 8);
    pixels_[i + 2] = static_cast<std::uint8_t>(bgrx >> 16);
    pixels_[i + 3] = 0;
  }
  CapturedFrame frame;
  frame.pixels = pixels_.data();
  frame.size = region.size();
  frame.stride = region.width * 4;
  if (control_->pointer) frame.pointer = PixelPoint{control_->pointer->x - region.x, control_->pointer->y - region.y};
  return frame;
}

}  // namespace glidemate::host::testing
