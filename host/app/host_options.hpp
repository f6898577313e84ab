#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glidemate::host {

// The command line of glidemate-host.
struct HostOptions {
  // Where phones' input goes: chosen from the desktop session (automatic),
  // the X display or fail (x11), GNOME's remote desktop (gnome), a wlroots
  // compositor's virtual pointer and keyboard (wlroots), the desktop
  // portal's remote desktop (portal), a log line per event on stderr (log),
  // nowhere.
  enum class Input { automatic, x11, gnome, wlroots, portal, log, none };

  std::string name;  // empty: the machine's name
  Input input = Input::automatic;
  std::uint16_t port = 0;
  bool advertise = true;
  std::optional<std::filesystem::path> dataDir;
  bool json = false;
  bool help = false;
  bool version = false;

  // Throws std::invalid_argument with a message for the user.
  static HostOptions parse(const std::vector<std::string>& args);
  static const char* usage();
  // The value of --port; throws std::invalid_argument unless 0 to 65535.
  static std::uint16_t parsePort(const std::string& text);
};

// Where the host keeps its files: with --data-dir everything under that
// folder, otherwise the XDG data folder (keys) and config folder (settings,
// the user's shortcut scripts).
struct HostFolders {
  std::filesystem::path keys;
  std::filesystem::path settingsFile;
  std::filesystem::path shortcuts;

  static HostFolders resolve(const std::optional<std::filesystem::path>& dataDir);
};

}  // namespace glidemate::host
