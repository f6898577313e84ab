#pragma once

#include <string>

#include "host/companion/permission_probe.hpp"
#include "host/input/event_poster.hpp"

namespace glidemate::host {

// What a Linux desktop lets the host do:
// - input: the event poster the host chose when it started (XTest on an X
//   display, the compositor on a Wayland one). The display is opened once,
//   at start, as the desktop services that share it are; one that can be
//   reached only later asks for a restart;
// - capture: an X display opens to capture;
// - session bus: the session bus answers a call within half a second.
class LinuxPermissionProbe final : public PermissionProbe {
 public:
  // `poster`: the host's event poster, null when none opened; then
  // `refusal`, when set, says why this desktop offers no way to post input.
  explicit LinuxPermissionProbe(const EventPoster* poster, std::string refusal = {})
      : poster_(poster), refusal_(std::move(refusal)) {}

  Check input() override;
  Check capture() override;
  Check sessionBus() override;

 private:
  const EventPoster* poster_;
  std::string refusal_;
};

}  // namespace glidemate::host
