#pragma once

#include <string_view>

namespace glidemate::host {

// What a phone is told when it asks for something this host has no service
// for: the desktop lacks the facility (no session bus, no display, no sound
// server, ...). One `failed` reply with a fixed sentence, never silence.
struct UnavailableFeature {
  std::string_view command;
  std::string_view reason;
};

namespace Unavailable {
inline constexpr UnavailableFeature volume{"volume", "Volume control isn't available on this computer."};
inline constexpr UnavailableFeature battery{"battery", "Battery status isn't available on this computer."};
inline constexpr UnavailableFeature bluetooth{"bluetooth", "Bluetooth devices aren't available on this computer."};
inline constexpr UnavailableFeature apps{"apps", "The app list isn't available on this computer."};
inline constexpr UnavailableFeature launchApp{"launchApp", "Opening apps isn't available on this computer."};
inline constexpr UnavailableFeature screenPreview{"screenPreview", "Screen preview isn't available on this computer."};
inline constexpr UnavailableFeature presentation{"presentation", "Presentation control isn't available on this computer."};
inline constexpr UnavailableFeature laserPointer{"laserPointer", "The laser pointer isn't available on this computer."};
inline constexpr UnavailableFeature media{"media", "Media control isn't available on this computer."};
inline constexpr UnavailableFeature clipboard{"clipboard", "The clipboard isn't available on this computer."};
inline constexpr UnavailableFeature shortcut{"shortcut", "Shortcuts aren't available on this computer."};
inline constexpr UnavailableFeature power{"power", "Power control isn't available on this computer."};
inline constexpr UnavailableFeature keepAwake{"keepAwake", "Keep-awake isn't available on this computer."};
}  // namespace Unavailable

}  // namespace glidemate::host
