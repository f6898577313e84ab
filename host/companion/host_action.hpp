#pragma once

#include <string>
#include <variant>

namespace glidemate::host {

// What the user interface may ask of the host. Each is carried out on the
// host's main executor.
struct HostAction {
  struct SetPaused {
    bool paused;
  };
  // Turn a phone away (its sessions end) until it is allowed again.
  struct Disconnect {
    std::string peerId;
  };
  struct Allow {
    std::string peerId;
  };
  struct Forget {
    std::string peerId;
  };
  // "Not me" on the pairing panel.
  struct DeclinePairing {};
  // Lift the block that wrong codes put on pairing.
  struct AllowPairing {};
  // Ask the desktop again what the host may do.
  struct RecheckPermissions {};
  // Have the desktop ask the user again to allow remote control, after
  // the user refused.
  struct AskForInputAgain {};
  struct SetStartAtLogin {
    bool enabled;
  };
  struct MarkWelcomeSeen {};
  // End every phone's screen preview; each is told the screen was turned off.
  struct StopAllPreviews {};

  using Case = std::variant<SetPaused, Disconnect, Allow, Forget, DeclinePairing, AllowPairing, RecheckPermissions,
                            AskForInputAgain, SetStartAtLogin, MarkWelcomeSeen, StopAllPreviews>;
  Case value;
};

}  // namespace glidemate::host
