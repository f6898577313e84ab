#pragma once

#include <functional>
#include <string>

#include "host/app/status_lines.hpp"
#include "host/server/host_server.hpp"

namespace glidemate::host {

// The popover's actions for the headless host, one command per line:
// pause, resume, disconnect ID, allow ID, forget ID, decline, allow-pairing,
// peers, paired, three-finger-drag on|off, ask-input, quit. A command that
// is not understood gets one error line and changes nothing.
class ControlCommands {
 public:
  ControlCommands(HostServer& server, StatusLines& status, UserDefaults& defaults);

  // What `ask-input` does: asks the desktop again to allow remote control;
  // false where input does not go through a desktop that asks.
  void onAskInput(std::function<bool()> ask) { askInput_ = std::move(ask); }

  enum class Outcome { carryOn, quit };
  Outcome run(const std::string& line);

 private:
  std::function<bool()> askInput_;
  HostServer& server_;
  StatusLines& status_;
  UserDefaults& defaults_;
};

}  // namespace glidemate::host
