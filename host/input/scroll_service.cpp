#include "host/input/scroll_service.hpp"

#include <asio/error.hpp>
#include <cmath>
#include <system_error>

namespace glidemate::host {
namespace {

// The wheel fields are 32-bit: a whole part that does not fit (or is not a
// number) can't be posted.
bool fitsWheel(double whole) { return whole >= -2147483648.0 && whole <= 2147483647.0; }

}  // namespace

std::shared_ptr<ScrollService> ScrollService::create(EventPoster& poster, const asio::any_io_executor& mainExecutor,
                                                     std::shared_ptr<FrameClock> clock) {
  return std::make_shared<ScrollService>(Passkey{}, poster, mainExecutor, std::move(clock));
}

ScrollService::ScrollService(Passkey, EventPoster& poster, const asio::any_io_executor& mainExecutor,
                             std::shared_ptr<FrameClock> clock)
    : poster_(poster),
      mainExecutor_(mainExecutor),
      clock_(std::move(clock)),
      source_(poster.createSource(EventSourceStateId::hidSystemState)) {}

void ScrollService::scroll(ScrollGesturePhase phase, double dx, double dy) {
  switch (phase) {
    case ScrollGesturePhase::mayBegin:
      stopCoasting();
      accumulator_.reset();
      post(machine_.mayBegin());
      break;
    case ScrollGesturePhase::began:
      stopCoasting();
      accumulator_.reset();
      post(machine_.begin());
      break;
    case ScrollGesturePhase::changed:
      // A delta that is not a number would poison the carried fractions of
      // every later event.
      if (!std::isfinite(dx) || !std::isfinite(dy)) return;
      post(machine_.change(dx, dy));
      break;
    case ScrollGesturePhase::ended:
      post(machine_.end());
      startCoasting(dx, dy);
      break;
    case ScrollGesturePhase::cancelled:
      stopCoasting();
      post(machine_.cancel());
      break;
  }
}

void ScrollService::stop() {
  stopCoasting();
  post(machine_.cancel());
}

void ScrollService::post(const std::vector<ScrollEvent>& events) {
  for (const auto& e : events) {
    const auto whole = accumulator_.take(e.deltaX, e.deltaY);
    if (!fitsWheel(whole.x) || !fitsWheel(whole.y)) continue;
    ScrollWheelEvent event;
    event.source = source_;
    event.units = ScrollEventUnit::pixel;
    event.wheelCount = 2;
    event.wheel1 = static_cast<std::int32_t>(whole.y);
    event.wheel2 = static_cast<std::int32_t>(whole.x);
    event.integerFields.set(EventField::scrollWheelEventIsContinuous, 1);
    event.integerFields.set(EventField::scrollWheelEventScrollPhase, static_cast<std::int64_t>(e.phase));
    event.integerFields.set(EventField::scrollWheelEventMomentumPhase, static_cast<std::int64_t>(e.momentum));
    event.doubleFields.set(EventField::scrollWheelEventPointDeltaAxis1, whole.y);
    event.doubleFields.set(EventField::scrollWheelEventPointDeltaAxis2, whole.x);
    poster_.post(event, EventTapLocation::hid);
  }
}

void ScrollService::cancelCoastTask() {
  coastTask_.cancel();
  currentCoast_.reset();
}

void ScrollService::stopCoasting() {
  cancelCoastTask();
  momentum_.stop();
  post(machine_.stopCoasting());
}

void ScrollService::startCoasting(double velocityX, double velocityY) {
  momentum_.start(velocityX, velocityY);
  if (!momentum_.isActive()) return;
  // Two coasts posting at once would double the speed and interleave their
  // phases: a new release takes over from the old coast (assigning the task
  // cancels the one it held).
  const std::uint64_t id = ++coastsStarted_;
  currentCoast_ = id;
  coastTask_ = Task(mainExecutor_, coast(weak_from_this(), clock_, id));
}

std::chrono::duration<double> ScrollService::frameInterval() {
  const auto rate = poster_.mainDisplayRefreshRate();
  const double hz = rate && std::isfinite(*rate) && *rate > 1.0 ? *rate : fallbackRefreshRate;
  return std::chrono::duration<double>(1.0 / hz);
}

bool ScrollService::coastStep(std::uint64_t id, double seconds) {
  if (currentCoast_ != id) return false;
  const auto displacement = momentum_.step(seconds);
  if (!displacement) {
    post(machine_.stopCoasting());
    currentCoast_.reset();
    return false;
  }
  post(machine_.coast(displacement->deltaX, displacement->deltaY));
  return currentCoast_ == id;
}

asio::awaitable<void> ScrollService::coast(std::weak_ptr<ScrollService> service,
                                           std::shared_ptr<FrameClock> clock, std::uint64_t id) {
  auto lastTick = clock->now();
  for (;;) {
    std::chrono::steady_clock::duration interval;
    {
      const auto self = service.lock();
      if (!self) co_return;
      // Asked before every sleep, so a refresh-rate change applies at once.
      interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(self->frameInterval());
    }
    try {
      co_await clock->sleepUntil(clock->now() + interval);
    } catch (const std::system_error& e) {
      if (e.code() == asio::error::operation_aborted) co_return;
      throw;
    }
    const auto self = service.lock();
    if (!self) co_return;
    // The real elapsed time, not the nominal interval: a late wake-up moves
    // further instead of slowing the coast down.
    const auto now = clock->now();
    const double seconds = std::chrono::duration<double>(now - lastTick).count();
    lastTick = now;
    if (!self->coastStep(id, seconds)) co_return;
  }
}

}  // namespace glidemate::host
