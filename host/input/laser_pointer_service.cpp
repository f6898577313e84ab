#include "host/input/laser_pointer_service.hpp"

#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

namespace glidemate::host {

LaserPointerService::LaserPointerService(asio::any_io_executor executor, EventPoster& poster,
                                         std::unique_ptr<LaserOverlay> overlay)
    : executor_(std::move(executor)), poster_(poster), overlay_(std::move(overlay)) {}

LaserPointerService::~LaserPointerService() { hide(); }

void LaserPointerService::set(std::optional<LaserColor> color) {
  if (!color) {
    hide();
    return;
  }
  if (window_ && color != color_) window_->setColor(*color);
  color_ = color;
  show(*color);
}

void LaserPointerService::show(LaserColor color) {
  if (window_ || !overlay_) return;
  // The cursor goes first: where it cannot be hidden, its place may only
  // become known then.
  poster_.hideCursor();
  window_ = overlay_->open(color, poster_.cursorLocation().value_or(ScreenPoint{}));
  timer_ = Task(executor_, [](LaserPointerService& self) -> asio::awaitable<void> {
    asio::steady_timer timer(self.executor_);
    auto due = std::chrono::steady_clock::now();
    for (;;) {
      due += followInterval;
      // After a stall, carry on from now rather than catch up in a burst.
      if (due < std::chrono::steady_clock::now()) due = std::chrono::steady_clock::now() + followInterval;
      timer.expires_at(due);
      co_await timer.async_wait(asio::use_awaitable);
      self.follow();
    }
  }(*this));
}

void LaserPointerService::follow() {
  if (!window_) return;
  if (const auto location = poster_.cursorLocation()) window_->moveTo(*location);
}

void LaserPointerService::hide() {
  timer_ = Task();
  window_.reset();
  poster_.showCursor();
}

}  // namespace glidemate::host
