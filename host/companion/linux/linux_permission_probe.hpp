#pragma once

#include "host/companion/permission_probe.hpp"
#include "host/input/event_poster.hpp"

namespace glidemate::host {

// What a Linux desktop lets the host do:
// - input: the host's X event poster (XTest) opened when it started. The
//   display is opened once, at start, as the desktop services that share
//   it are; one that can be reached only later asks for a restart;
// - capture: an X display opens to capture;
// - session bus: the session bus answers a call within half a second.
class LinuxPermissionProbe final : public PermissionProbe {
 public:
  // `poster`: the host's X event poster, null when none opened.
  explicit LinuxPermissionProbe(const EventPoster* poster) : poster_(poster) {}

  Check input() override;
  Check capture() override;
  Check sessionBus() override;

 private:
  const EventPoster* poster_;
};

}  // namespace glidemate::host
