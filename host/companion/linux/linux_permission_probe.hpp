#pragma once

#include <string>

#include "host/app/input_backend.hpp"
#include "host/companion/permission_probe.hpp"

namespace glidemate::host {

// What a Linux desktop lets the host do:
// - input: the event poster the host chose when it started (XTest on an X
//   display, the compositor on a Wayland one). The display is opened once,
//   at start, as the desktop services that share it are; one that can be
//   reached only later asks for a restart. Through the desktop portal,
//   input waits for the user to allow remote control in the desktop's own
//   dialog;
// - capture: an X display opens to capture;
// - session bus: the session bus answers a call within half a second.
class LinuxPermissionProbe final : public PermissionProbe {
 public:
  // `input`: where the host sends input, chosen at its start.
  explicit LinuxPermissionProbe(const InputBackend& input) : input_(input) {}

  Check input() override;
  bool askForInputAgain() override { return input_.askForInputAgain(); }
  Check capture() override;
  Check sessionBus() override;

 private:
  const InputBackend& input_;
};

}  // namespace glidemate::host
