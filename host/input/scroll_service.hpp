#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "host/input/event_poster.hpp"
#include "host/input/frame_clock.hpp"
#include "kit/input/scroll_momentum.hpp"
#include "kit/input/scroll_phase_machine.hpp"
#include "kit/input/sub_pixel_accumulator.hpp"
#include "kit/runtime/task.hpp"
#include "kit/wire/input_enums.hpp"

namespace glidemate::host {

// Turns the phone's two-finger scroll phases into phased, pixel-precise
// scroll-wheel events and, after the fingers lift, coasts on: one momentum
// event per display frame until the release velocity has decayed. One
// instance serves every phone; main executor only.
class ScrollService : public std::enable_shared_from_this<ScrollService> {
 public:
  // Without a usable refresh rate the coast runs at 60 frames a second.
  static constexpr double fallbackRefreshRate = 60.0;

  // The coast task runs on `mainExecutor` and sleeps on `clock`.
  static std::shared_ptr<ScrollService> create(EventPoster& poster, const asio::any_io_executor& mainExecutor,
                                               std::shared_ptr<FrameClock> clock);
  ScrollService(const ScrollService&) = delete;
  ScrollService& operator=(const ScrollService&) = delete;
  // Destroying the service ends a running coast with its task.
  ~ScrollService() = default;

  // For `ended`, dx and dy are the release velocity in points per second.
  void scroll(ScrollGesturePhase phase, double dx, double dy);
  // The phone is gone: end any coast and cancel the gesture.
  void stop();

  bool isCoasting() const { return currentCoast_.has_value(); }
  const ScrollPhaseMachine& machine() const { return machine_; }

 private:
  struct Passkey {};

 public:
  ScrollService(Passkey, EventPoster& poster, const asio::any_io_executor& mainExecutor,
                std::shared_ptr<FrameClock> clock);

 private:
  void post(const std::vector<ScrollEvent>& events);
  void stopCoasting();
  void startCoasting(double velocityX, double velocityY);
  void cancelCoastTask();
  std::chrono::duration<double> frameInterval();
  // One frame of coast `id`; false once that coast is over or replaced.
  bool coastStep(std::uint64_t id, double seconds);
  static asio::awaitable<void> coast(std::weak_ptr<ScrollService> service, std::shared_ptr<FrameClock> clock,
                                     std::uint64_t id);

  EventPoster& poster_;
  asio::any_io_executor mainExecutor_;
  std::shared_ptr<FrameClock> clock_;
  std::optional<EventSource> source_;
  ScrollPhaseMachine machine_;
  ScrollMomentum momentum_;
  Task coastTask_;
  // Which coast may post: a cancelled coast that has already woken up
  // finds it is no longer current and ends without posting.
  std::optional<std::uint64_t> currentCoast_;
  std::uint64_t coastsStarted_ = 0;
  SubPixelAccumulator accumulator_;
};

}  // namespace glidemate::host
