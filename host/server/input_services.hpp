#pragma once

#include <asio/any_io_executor.hpp>
#include <memory>

#include "host/input/desktop_shortcut_gesture_backend.hpp"
#include "host/input/event_poster.hpp"
#include "host/input/input_service.hpp"
#include "host/input/keystroke_service.hpp"
#include "host/input/scroll_service.hpp"

namespace glidemate::host {

// The services that turn a phone's input messages into desktop events, all
// posting through one event poster. System gestures press the desktop's
// usual shortcuts.
struct InputServices {
  InputServices(EventPoster& poster, const asio::any_io_executor& mainExecutor,
                std::shared_ptr<FrameClock> frames, InputService::Now now);

  InputService input;
  std::shared_ptr<ScrollService> scroll;
  DesktopShortcutGestureBackend gestures;
  KeystrokeService keystrokes;
};

}  // namespace glidemate::host
