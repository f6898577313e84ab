#include "host/server/input_services.hpp"

namespace glidemate::host {

InputServices::InputServices(EventPoster& poster, const asio::any_io_executor& mainExecutor,
                             std::shared_ptr<FrameClock> frames, InputService::Now now)
    : input(poster, std::move(now)),
      scroll(ScrollService::create(poster, mainExecutor, std::move(frames))),
      gestures(poster),
      keystrokes(poster, gestures) {}

}  // namespace glidemate::host
