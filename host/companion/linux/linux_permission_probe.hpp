#pragma once

#include <functional>

#include "host/companion/permission_probe.hpp"
#include "host/input/deferred_event_poster.hpp"

namespace glidemate::host {

// What a Linux desktop lets the host do:
// - input: an X display with the XTest extension opens; the first time it
//   does, its poster is attached to the host's deferred one, so a display
//   that appears later (Xwayland started on demand) is still used;
// - capture: an X display opens to capture;
// - session bus: the session bus answers a call within half a second.
class LinuxPermissionProbe final : public PermissionProbe {
 public:
  // `onInputAttached` runs after a poster has been attached.
  LinuxPermissionProbe(DeferredEventPoster& poster, std::function<void()> onInputAttached);

  Check input() override;
  Check capture() override;
  Check sessionBus() override;

 private:
  DeferredEventPoster& poster_;
  std::function<void()> onInputAttached_;
};

}  // namespace glidemate::host
